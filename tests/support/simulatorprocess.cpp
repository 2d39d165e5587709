#include "simulatorprocess.h"

#include "d415datapacket.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

namespace {

// "10:15:02.113 REQ 9E 00 ...": time, tag, rest.
QString tagOf(const QString &line)
{
    return line.section(QLatin1Char(' '), 1, 1);
}

QString bodyOf(const QString &line)
{
    return line.section(QLatin1Char(' '), 2);
}

} // namespace

SimulatorProcess::SimulatorProcess(QObject *parent)
    : QObject(parent)
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    connect(&m_process, &QProcess::readyReadStandardError, this, &SimulatorProcess::readLog);
}

SimulatorProcess::~SimulatorProcess()
{
    stop();
}

QString SimulatorProcess::program()
{
    return QStringLiteral(D415_SIM_PROGRAM);
}

bool SimulatorProcess::start(const QStringList &arguments, int timeoutMs)
{
    if (isRunning()) {
        m_lastError = QStringLiteral("already running");
        return false;
    }
    m_name = QStringLiteral("d415");
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--name") || arguments[i] == QLatin1String("-n"))
            m_name = arguments.value(i + 1);
        else if (arguments[i].startsWith(QLatin1String("--name=")))
            m_name = arguments[i].mid(7);
    }
    m_linkPath = QDir::current().absoluteFilePath(QStringLiteral("ports/") + m_name);
    m_lines.clear();
    m_controlAnswers.clear();
    m_requests.clear();
    m_partialLine.clear();
    m_devicePath.clear();
    m_process.setWorkingDirectory(QDir::currentPath());
    // --exit-on-eof: should the test die, its end of the pipe closes and the simulator ends too.
    m_process.start(program(), QStringList {QStringLiteral("--exit-on-eof")} + arguments);
    if (!m_process.waitForStarted(timeoutMs)) {
        m_lastError = QStringLiteral("cannot start %1: %2").arg(program(), m_process.errorString());
        return false;
    }
    return waitForLink(timeoutMs);
}

bool SimulatorProcess::runToEnd(const QStringList &arguments, int timeoutMs)
{
    m_lines.clear();
    m_process.setWorkingDirectory(QDir::currentPath());
    m_process.start(program(), QStringList {QStringLiteral("--exit-on-eof")} + arguments);
    return m_process.waitForStarted(timeoutMs) && waitForExit(timeoutMs);
}

bool SimulatorProcess::waitForExit(int timeoutMs)
{
    const bool ended = QTest::qWaitFor([this] { return m_process.state() == QProcess::NotRunning; }, timeoutMs);
    readLog();
    return ended;
}

bool SimulatorProcess::waitForLink(int timeoutMs)
{
    const auto linked = [this] { return !m_devicePath.isEmpty() && QFileInfo(m_linkPath).isSymLink(); };
    // Either way the answer is in linked() and the log.
    (void)QTest::qWaitFor([&] { return linked() || m_process.state() == QProcess::NotRunning; }, timeoutMs);
    readLog();
    const bool ready = linked();
    if (!ready) {
        m_lastError = isRunning() ? QStringLiteral("no link %1 after %2 ms").arg(m_linkPath).arg(timeoutMs)
                                  : QStringLiteral("the simulator ended (status %1): %2")
                                        .arg(m_process.exitCode())
                                        .arg(m_lines.join(QLatin1Char('\n')));
    }
    return ready;
}

bool SimulatorProcess::stop(int timeoutMs)
{
    if (m_process.state() == QProcess::NotRunning)
        return !QFileInfo(m_linkPath).isSymLink();
    m_process.terminate();
    if (!m_process.waitForFinished(timeoutMs)) {
        m_lastError = QStringLiteral("the simulator did not end within %1 ms; killed").arg(timeoutMs);
        m_process.kill();
        m_process.waitForFinished(timeoutMs);
        return false;
    }
    readLog();
    if (QFileInfo(m_linkPath).isSymLink()) {
        m_lastError = QStringLiteral("the simulator ended but left %1").arg(m_linkPath);
        return false;
    }
    return true;
}

bool SimulatorProcess::isRunning() const
{
    return m_process.state() == QProcess::Running;
}

bool SimulatorProcess::command(const QString &line, int timeoutMs)
{
    if (!isRunning()) {
        m_lastError = QStringLiteral("the simulator is not running");
        return false;
    }
    const qsizetype answered = m_controlAnswers.size();
    m_process.write(line.toUtf8() + '\n');
    if (!QTest::qWaitFor([&] { return m_controlAnswers.size() > answered || !isRunning(); }, timeoutMs)
        || m_controlAnswers.size() <= answered) {
        m_lastError = QStringLiteral("no answer to \"%1\"").arg(line);
        return false;
    }
    const QString answer = m_controlAnswers.at(answered);
    if (!answer.startsWith(QLatin1String("ok "))) {
        m_lastError = answer;
        return false;
    }
    return true;
}

bool SimulatorProcess::setSilent(bool silent)
{
    return command(silent ? QStringLiteral("silence on") : QStringLiteral("silence off"));
}

bool SimulatorProcess::silenceNext(int count)
{
    return command(QStringLiteral("silence %1").arg(count));
}

bool SimulatorProcess::badCheckByte(int count)
{
    return command(QStringLiteral("badcrc %1").arg(count));
}

bool SimulatorProcess::wrongAddress(int count)
{
    return command(QStringLiteral("wrongaddress %1").arg(count));
}

bool SimulatorProcess::partialReply(int count)
{
    return command(QStringLiteral("partial %1").arg(count));
}

bool SimulatorProcess::slowReply(int count, int delayMs)
{
    return command(QStringLiteral("slow %1 %2").arg(count).arg(delayMs));
}

bool SimulatorProcess::setDelay(int delayMs)
{
    return command(QStringLiteral("delay %1").arg(delayMs));
}

bool SimulatorProcess::raiseError(int code)
{
    return command(QStringLiteral("error %1").arg(code));
}

bool SimulatorProcess::resetError()
{
    return command(QStringLiteral("reset"));
}

bool SimulatorProcess::clearFaults()
{
    return command(QStringLiteral("clear"));
}

bool SimulatorProcess::dropLine()
{
    return command(QStringLiteral("drop"));
}

bool SimulatorProcess::reconnectLine()
{
    m_devicePath.clear();
    return command(QStringLiteral("reconnect")) && waitForLink(5000);
}

bool SimulatorProcess::junkFirst(int count)
{
    return command(QStringLiteral("junk %1").arg(count));
}

bool SimulatorProcess::hangUpNext(int downMs)
{
    return command(QStringLiteral("hangup %1").arg(downMs));
}

bool SimulatorProcess::waitForLineBack(int timeoutMs)
{
    // The line is back once a "ready" line follows the last hang-up or drop and the link is there.
    const auto back = [this] {
        for (qsizetype i = m_lines.size() - 1; i >= 0; --i) {
            if (tagOf(m_lines.at(i)) != QLatin1String("SIM"))
                continue;
            const QString body = bodyOf(m_lines.at(i));
            if (body.startsWith(QLatin1String("ready ")))
                return QFileInfo(m_linkPath).isSymLink();
            if (body.startsWith(QLatin1String("line hung up")) || body.startsWith(QLatin1String("line dropped")))
                return false;
        }
        return false;
    };
    if (QTest::qWaitFor(back, timeoutMs))
        return true;
    m_lastError = QStringLiteral("the line did not come back within %1 ms").arg(timeoutMs);
    return false;
}

bool SimulatorProcess::aim(int nth, const QString &kind, const QString &fault)
{
    return command(QStringLiteral("at %1 %2 %3").arg(nth).arg(kind, fault));
}

bool SimulatorProcess::waitForAimed(int nth, const QString &kind, const QString &fault, int timeoutMs)
{
    // "FLT aimed 2 discharge slow 300: ...": a fault given without its milliseconds matches the default.
    const QString fragment = QStringLiteral(" FLT aimed %1 %2 %3").arg(nth).arg(kind, fault);
    return QTest::qWaitFor(
        [&] {
            for (const QString &line : std::as_const(m_lines)) {
                if (line.contains(fragment + QLatin1Char(':')) || line.contains(fragment + QLatin1Char(' ')))
                    return true;
            }
            return false;
        },
        timeoutMs);
}

QStringList SimulatorProcess::aimedLines() const
{
    return linesWithTag(QStringLiteral("FLT")).filter(QRegularExpression(QStringLiteral("^aimed ")));
}

bool SimulatorProcess::setValue(const QString &name, const QString &value)
{
    return command(QStringLiteral("set %1 %2").arg(name, value));
}

QList<QPair<int, int>> SimulatorProcess::requestCommands() const
{
    QList<QPair<int, int>> pairs;
    for (const Request &request : m_requests)
        pairs.append(qMakePair(request.command, request.parameter));
    return pairs;
}

bool SimulatorProcess::waitForRequests(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return requestCount() >= count; }, timeoutMs);
}

QStringList SimulatorProcess::linesWithTag(const QString &tag) const
{
    QStringList found;
    for (const QString &line : m_lines) {
        if (tagOf(line) == tag)
            found << bodyOf(line);
    }
    return found;
}

bool SimulatorProcess::waitForLine(const QString &fragment, int timeoutMs, bool fromNow)
{
    const qsizetype first = fromNow ? m_lines.size() : 0;
    return QTest::qWaitFor(
        [&] {
            for (qsizetype i = first; i < m_lines.size(); ++i) {
                if (m_lines.at(i).contains(fragment))
                    return true;
            }
            return false;
        },
        timeoutMs);
}

QString SimulatorProcess::status()
{
    return simLineAfter(QStringLiteral("status"));
}

SimulatorProcess::Totals SimulatorProcess::totals()
{
    static const QRegularExpression pattern(QStringLiteral(
        "^totals: discharged (\\d+) times, (-?[0-9.]+) (\\w+) since start; lifetime (\\d+) doses (\\d+) raw$"));
    const QRegularExpressionMatch match = pattern.match(simLineAfter(QStringLiteral("totals")));
    Totals totals;
    if (!match.hasMatch())
        return totals;
    totals.valid = true;
    totals.discharges = match.captured(1).toInt();
    totals.weightText = match.captured(2);
    totals.weight = totals.weightText.toDouble();
    totals.unit = match.captured(3);
    totals.lifetimeDoses = match.captured(4).toLongLong();
    totals.lifetimeWeightRaw = match.captured(5).toLongLong();
    return totals;
}

QString SimulatorProcess::simLineAfter(const QString &line)
{
    const qsizetype before = m_lines.size();
    if (!command(line))
        return QString();
    for (qsizetype i = m_lines.size() - 1; i >= before; --i) {
        if (tagOf(m_lines.at(i)) == QLatin1String("SIM"))
            return bodyOf(m_lines.at(i));
    }
    return QString();
}

void SimulatorProcess::readLog()
{
    m_partialLine += m_process.readAllStandardError();
    qsizetype end;
    while ((end = m_partialLine.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_partialLine.left(end));
        m_partialLine.remove(0, end + 1);
        m_lines << line;
        parseLine(line);
    }
}

void SimulatorProcess::parseLine(const QString &line)
{
    const QString tag = tagOf(line);
    if (tag == QLatin1String("CTL")) {
        m_controlAnswers << bodyOf(line);
    } else if (tag == QLatin1String("SIM") && bodyOf(line).startsWith(QLatin1String("ready "))) {
        // "ready ports/NAME -> /dev/pts/N, doser A"
        m_devicePath = bodyOf(line).section(QLatin1Char(' '), 3, 3).remove(QLatin1Char(','));
    } else if (tag == QLatin1String("REQ")) {
        const QByteArray frame = QByteArray::fromHex(line.section(QLatin1Char(' '), 2, 13).toLatin1());
        D415DataPacket packet;
        if (packet.fromWire(reinterpret_cast<const quint8 *>(frame.constData()), int(frame.size())) < 0)
            return;
        m_requests.append(Request {packet.command, packet.parameter, packet.value(), packet.decimals, frame});
    }
}
