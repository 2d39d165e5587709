#include "simulator.h"

#include "conversationlog.h"
#include "ptyline.h"

#include <QRegularExpression>

namespace {

constexpr int PartialReplyBytes = 6;

bool parseCount(const QStringList &arguments, int index, int fallback, int maximum, int *value, QString *error)
{
    if (index >= arguments.size()) {
        *value = fallback;
        return true;
    }
    bool ok = false;
    *value = arguments[index].toInt(&ok);
    if (!ok || *value < 0 || *value > maximum) {
        *error = QStringLiteral("expected a number from 0 to %1, not \"%2\"").arg(maximum).arg(arguments[index]);
        return false;
    }
    return true;
}

// The reply as it goes on the line, spoilt as @p fault says (a wrong address is set in @p answer too).
QByteArray wireBytes(D415DataPacket &answer, const FaultPlan::Decision &fault)
{
    if (fault.wrongAddress)
        answer.sourceAddress = quint8((answer.sourceAddress + 1) & 0x7F);
    quint8 wire[D415DataPacket::FrameSize];
    answer.toWire(wire);
    if (fault.badCheckByte)
        wire[11] = quint8((wire[11] + 1) & 0x7F);
    QByteArray bytes(reinterpret_cast<const char *>(wire), D415DataPacket::FrameSize);
    if (fault.partial)
        bytes.truncate(PartialReplyBytes);
    if (fault.junk)
        bytes.prepend(FaultPlan::junkBytes());
    return bytes;
}

// The FLT line of the faults played from the plan, as it always read.
QStringList plannedFaults(const FaultPlan::Decision &fault, int source)
{
    QStringList faults;
    if (fault.wrongAddress)
        faults << QStringLiteral("sent from doser %1").arg(source);
    if (fault.badCheckByte)
        faults << QStringLiteral("wrong check byte");
    if (fault.partial)
        faults << QStringLiteral("only %1 bytes").arg(PartialReplyBytes);
    if (fault.junk)
        faults << QStringLiteral("%1 junk bytes first").arg(FaultPlan::junkBytes().size());
    if (fault.delayMs > 0)
        faults << QStringLiteral("%1 ms late").arg(fault.delayMs);
    if (fault.hangupMs >= 0)
        faults << QStringLiteral("no reply, the line hangs up for %1 ms").arg(fault.hangupMs);
    return faults;
}

QString aimedEffect(const FaultPlan::Fault &fault)
{
    switch (fault.kind) {
    case FaultPlan::Fault::Silence: return QStringLiteral("no reply, request not carried out");
    case FaultPlan::Fault::BadCheckByte: return QStringLiteral("wrong check byte");
    case FaultPlan::Fault::WrongAddress: return QStringLiteral("sent from the next address");
    case FaultPlan::Fault::Partial: return QStringLiteral("only %1 bytes").arg(PartialReplyBytes);
    case FaultPlan::Fault::Junk: return QStringLiteral("%1 junk bytes first").arg(FaultPlan::junkBytes().size());
    case FaultPlan::Fault::Slow: return QStringLiteral("carried out, the reply %1 ms late").arg(fault.ms);
    case FaultPlan::Fault::Hangup:
        return QStringLiteral("carried out, no reply, the line hangs up for %1 ms").arg(fault.ms);
    case FaultPlan::Fault::Mark: return QStringLiteral("marked, the doser acts now");
    }
    return QString();
}

} // namespace

Simulator::Simulator(PtyLine *line, QObject *parent)
    : QObject(parent)
    , m_line(line)
{
    m_clock.start();
    m_modelTimer.setSingleShot(true);
    m_modelTimer.setTimerType(Qt::PreciseTimer);
    m_gapTimer.setSingleShot(true);
    m_gapTimer.setTimerType(Qt::PreciseTimer);
    m_reopenTimer.setSingleShot(true);
    connect(&m_reopenTimer, &QTimer::timeout, this, &Simulator::reopenLine);
    connect(&m_modelTimer, &QTimer::timeout, this, &Simulator::modelTimeout);
    connect(&m_gapTimer, &QTimer::timeout, this, &Simulator::gapTimeout);
    connect(m_line, &PtyLine::received, this, &Simulator::bytesReceived);
    connect(m_line, &PtyLine::failed, this, &Simulator::lineFailed);
}

bool Simulator::start(QString *error)
{
    if (!m_line->open(error))
        return false;
    announceLine();
    return true;
}

void Simulator::announceLine()
{
    ConversationLog::line("SIM",
        QStringLiteral("ready %1 -> %2, doser %3")
            .arg(m_line->linkPath(), m_line->devicePath())
            .arg(m_model.address()));
}

void Simulator::bytesReceived(const QByteArray &bytes)
{
    handlePieces(m_assembler.feed(bytes, m_clock.elapsed()));
    if (m_assembler.hasPending())
        m_gapTimer.start(FrameAssembler::GapMs + 1);
}

void Simulator::gapTimeout()
{
    handlePieces(m_assembler.flushStale(m_clock.elapsed()));
}

void Simulator::lineFailed(const QString &reason)
{
    ConversationLog::line("SIM", QStringLiteral("cannot read the line any more: %1").arg(reason));
}

void Simulator::handlePieces(const QList<FrameAssembler::Piece> &pieces)
{
    for (const FrameAssembler::Piece &piece : pieces) {
        if (piece.isFrame)
            handleFrame(piece.bytes);
        else
            ConversationLog::line("IGN", ConversationLog::hex(piece.bytes) + QStringLiteral("  ") + piece.reason);
    }
}

void Simulator::handleFrame(const QByteArray &frame)
{
    D415DataPacket request;
    if (request.fromWire(reinterpret_cast<const quint8 *>(frame.constData()), int(frame.size())) < 0) {
        ConversationLog::line("IGN",
            ConversationLog::hex(frame) + QStringLiteral("  invalid frame: ") + ConversationLog::invalidReason(frame));
        return;
    }
    const int address = request.destinationAddress & 0x7F;
    if (address != m_model.address()) {
        ConversationLog::line("IGN", ConversationLog::hex(frame) + QStringLiteral("  for doser %1").arg(address));
        return;
    }
    ConversationLog::line(
        "REQ", ConversationLog::hex(frame) + QStringLiteral("  ") + ConversationLog::describeRequest(request));
    reply(request);
}

void Simulator::reply(const D415DataPacket &request)
{
    const FaultPlan::Decision planned = m_faults.next();
    FaultPlan::Decision fault = planned;
    const QList<AimList::Aim> fired = m_aims.count(request.command, request.parameter);
    for (const AimList::Aim &aim : fired)
        fault.add(aim.fault);
    // A harness that waits for a mark acts before the doser does.
    logAims(fired, request, true);
    if (fault.silent) {
        if (planned.silent)
            ConversationLog::line("FLT", QStringLiteral("silence: no reply, request not carried out"));
        logAims(fired, request, false);
        return;
    }
    D415DataPacket answer = m_model.answer(request, m_clock.elapsed());
    logAims(fired, request, false);
    const QString meaning = ConversationLog::describeReply(answer);
    const QByteArray bytes = wireBytes(answer, fault);

    const QStringList faults = plannedFaults(planned, answer.sourceAddress);
    if (!faults.isEmpty())
        ConversationLog::line("FLT", faults.join(QStringLiteral(", ")));

    if (fault.hangupMs >= 0) {
        hangUp(fault.hangupMs);
    } else if (fault.delayMs > 0) {
        QTimer::singleShot(fault.delayMs, Qt::PreciseTimer, this, [this, bytes, meaning] { send(bytes, meaning); });
    } else {
        send(bytes, meaning);
    }
    logModelEvents();
    scheduleModel();
}

void Simulator::logAims(const QList<AimList::Aim> &fired, const D415DataPacket &request, bool marks)
{
    for (const AimList::Aim &aim : fired) {
        if ((aim.fault.kind == FaultPlan::Fault::Mark) != marks)
            continue;
        ConversationLog::line("FLT",
            QStringLiteral("aimed %1: cmd %2/%3, %4 number %5 since the aim; %6")
                .arg(aim.text())
                .arg(request.command)
                .arg(request.parameter)
                .arg(aim.kindName == QLatin1String("any") ? QStringLiteral("request") : aim.kindName)
                .arg(aim.nth)
                .arg(aimedEffect(aim.fault)));
    }
}

void Simulator::hangUp(int downMs)
{
    m_line->drop();
    ConversationLog::line(
        "SIM", QStringLiteral("line hung up, %1 removed; back in %2 ms").arg(m_line->linkPath()).arg(downMs));
    m_reopenTimer.start(downMs);
}

void Simulator::reopenLine()
{
    QString error;
    if (m_line->open(&error))
        announceLine();
    else
        ConversationLog::line("SIM", QStringLiteral("cannot bring the line back: ") + error);
}

void Simulator::send(const QByteArray &bytes, const QString &meaning)
{
    if (!m_line->write(bytes)) {
        ConversationLog::line("FLT", QStringLiteral("reply lost, the line is closed: ") + ConversationLog::hex(bytes));
        return;
    }
    ConversationLog::line("REP", ConversationLog::hex(bytes) + QStringLiteral("  ") + meaning);
}

void Simulator::modelTimeout()
{
    m_model.advance(m_clock.elapsed());
    logModelEvents();
    scheduleModel();
}

void Simulator::logModelEvents()
{
    for (const QString &event : m_model.takeEvents())
        ConversationLog::line("EVT", event);
}

void Simulator::scheduleModel()
{
    const qint64 next = m_model.nextEventMs();
    if (next < 0) {
        m_modelTimer.stop();
        return;
    }
    m_modelTimer.start(int(qMax<qint64>(0, next - m_clock.elapsed())));
}

void Simulator::controlLine(const QString &line)
{
    QString error;
    if (runCommand(line, &error))
        ConversationLog::line("CTL", QStringLiteral("ok ") + line);
    else
        ConversationLog::line("CTL", QStringLiteral("error ") + line + QStringLiteral(": ") + error);
}

bool Simulator::runCommand(const QString &command, QString *error)
{
    const QStringList words = command.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (words.isEmpty()) {
        *error = QStringLiteral("empty command");
        return false;
    }
    const QString verb = words.first().toLower();
    const QStringList arguments = words.mid(1);
    bool done = false;
    if (verb == QLatin1String("set"))
        done = runSetting(arguments, error);
    else if (verb == QLatin1String("drop") || verb == QLatin1String("reconnect") || verb == QLatin1String("quit"))
        done = runLineCommand(verb, error);
    else if (verb == QLatin1String("status")) {
        ConversationLog::line("SIM",
            m_model.describe(m_clock.elapsed()) + QStringLiteral("; ") + m_faults.describe() + QStringLiteral("; ")
                + m_aims.describe());
        done = true;
    } else if (verb == QLatin1String("totals")) {
        m_model.advance(m_clock.elapsed());
        ConversationLog::line("SIM", m_model.describeTotals());
        done = true;
    } else if (verb == QLatin1String("at"))
        done = m_aims.add(arguments, error);
    else
        done = runFault(verb, arguments, error);
    logModelEvents();
    scheduleModel();
    return done;
}

bool Simulator::runFault(const QString &verb, const QStringList &arguments, QString *error)
{
    int count = 0;
    if (verb == QLatin1String("silence")) {
        const QString how = arguments.value(0, QStringLiteral("on"));
        if (how == QLatin1String("on") || how == QLatin1String("off")) {
            m_faults.setSilentAlways(how == QLatin1String("on"));
            return true;
        }
        if (!parseCount(arguments, 0, 1, 1000000, &count, error))
            return false;
        m_faults.addSilent(count);
        return true;
    }
    if (verb == QLatin1String("badcrc") || verb == QLatin1String("wrongaddress") || verb == QLatin1String("partial")) {
        if (!parseCount(arguments, 0, 1, 1000000, &count, error))
            return false;
        if (verb == QLatin1String("badcrc"))
            m_faults.addBadCheckByte(count);
        else if (verb == QLatin1String("wrongaddress"))
            m_faults.addWrongAddress(count);
        else
            m_faults.addPartial(count);
        return true;
    }
    if (verb == QLatin1String("junk")) {
        if (!parseCount(arguments, 0, 1, 1000000, &count, error))
            return false;
        m_faults.addJunk(count);
        return true;
    }
    if (verb == QLatin1String("hangup")) {
        if (arguments.isEmpty()) {
            *error = QStringLiteral("hangup needs milliseconds");
            return false;
        }
        if (!parseCount(arguments, 0, 0, FaultPlan::MaxLineDownMs, &count, error))
            return false;
        m_faults.addHangup(count);
        return true;
    }
    // "late" and "hold" read better where the doser acts and only the reply waits.
    if (verb == QLatin1String("slow") || verb == QLatin1String("late") || verb == QLatin1String("hold")) {
        int delay = 0;
        if (!parseCount(arguments, 0, 1, 1000000, &count, error)
            || !parseCount(arguments, 1, FaultPlan::DefaultSlowMs, 60000, &delay, error))
            return false;
        m_faults.addSlow(count, delay);
        return true;
    }
    if (verb == QLatin1String("delay")) {
        if (arguments.isEmpty()) {
            *error = QStringLiteral("delay needs milliseconds");
            return false;
        }
        if (!parseCount(arguments, 0, 0, 60000, &count, error))
            return false;
        m_faults.setDelay(count);
        return true;
    }
    if (verb == QLatin1String("error")) {
        if (arguments.isEmpty()) {
            *error = QStringLiteral("error needs an error number");
            return false;
        }
        if (!parseCount(arguments, 0, 0, 255, &count, error))
            return false;
        m_model.injectError(quint8(count), m_clock.elapsed());
        return true;
    }
    if (verb == QLatin1String("reset")) {
        m_model.resetError();
        return true;
    }
    if (verb == QLatin1String("clear")) {
        m_faults.clear();
        m_aims.clear();
        return true;
    }
    *error = QStringLiteral("unknown command (see --help)");
    return false;
}

bool Simulator::runSetting(const QStringList &arguments, QString *error)
{
    if (arguments.size() != 2) {
        *error = QStringLiteral("expected: set NAME VALUE");
        return false;
    }
    return m_model.setValue(arguments[0].toLower(), arguments[1], m_clock.elapsed(), error);
}

bool Simulator::runLineCommand(const QString &verb, QString *error)
{
    if (verb == QLatin1String("quit")) {
        emit quitRequested();
        return true;
    }
    if (verb == QLatin1String("drop")) {
        if (!m_line->isOpen()) {
            *error = QStringLiteral("the line is already closed");
            return false;
        }
        m_reopenTimer.stop();
        m_line->drop();
        ConversationLog::line("SIM", QStringLiteral("line dropped, %1 removed").arg(m_line->linkPath()));
        return true;
    }
    m_reopenTimer.stop();
    if (!m_line->open(error))
        return false;
    announceLine();
    return true;
}
