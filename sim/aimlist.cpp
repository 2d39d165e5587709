#include "aimlist.h"

namespace {

struct KindName
{
    const char *name;
    int command;
    int parameter; // -1: any
};

// The requests a test aims at most often; any other one by its number ("39", "44/1").
const KindName kindNames[] = {
    {"netweight", 0, -1},
    {"version", 3, -1},
    {"reset", 4, -1},
    {"setdose", 8, -1},
    {"fill", 14, -1},
    {"fillset", 15, -1},
    {"continue", 17, -1},
    {"discharge", 20, -1},
    {"cycle", 22, -1},
    {"counter", 24, -1},
    {"lastfill", 24, 0},
    {"shift-doses", 24, 16},
    {"shift-weight", 24, 18},
    {"lifetime-doses", 24, 19},
    {"lifetime-weight", 24, 20},
    {"stop", 26, -1},
    {"testmode", 39, -1},
    {"service", 44, -1},
};

bool parseByte(const QString &text, int *value)
{
    bool ok = false;
    *value = text.toInt(&ok);
    return ok && *value >= 0 && *value <= 255;
}

} // namespace

QString AimList::Aim::text() const
{
    const QString from = fromName.isEmpty() ? QString() : QStringLiteral(" from ") + fromName;
    return QStringLiteral("%1 %2 %3%4").arg(nth).arg(kindName, fault.text(), from);
}

bool AimList::add(const QStringList &words, QString *error)
{
    QStringList aimWords = words;
    const qsizetype from = words.indexOf(QStringLiteral("from"));
    if (aimWords.size() < 3 || (from >= 0 && (from < 3 || from != words.size() - 2))) {
        *error = QStringLiteral("expected: at N KIND FAULT [MS] [from KIND]");
        return false;
    }
    Aim aim;
    bool ok = false;
    aim.nth = words[0].toInt(&ok);
    if (!ok || aim.nth < 1 || aim.nth > 1000000) {
        *error = QStringLiteral("expected a request count from 1 to 1000000, not \"%1\"").arg(words[0]);
        return false;
    }
    if (from >= 0) {
        if (!parseKind(words.last().toLower(), &aim.fromName, &aim.fromCommand, &aim.fromParameter, error))
            return false;
        aim.started = false;
        aimWords = words.mid(0, from);
    }
    if (!parseKind(aimWords[1].toLower(), &aim.kindName, &aim.command, &aim.parameter, error)
        || !FaultPlan::Fault::parse(aimWords.mid(2), &aim.fault, error))
        return false;
    m_aims.append(aim);
    return true;
}

bool AimList::parseKind(const QString &text, QString *name, int *command, int *parameter, QString *error)
{
    *name = text;
    if (text == QLatin1String("any"))
        return true;
    for (const KindName &known : kindNames) {
        if (text == QLatin1String(known.name)) {
            *command = known.command;
            *parameter = known.parameter;
            return true;
        }
    }
    const QStringList numbers = text.split(QLatin1Char('/'));
    if (numbers.size() <= 2 && parseByte(numbers[0], command)
        && (numbers.size() == 1 || parseByte(numbers[1], parameter)))
        return true;
    *error = QStringLiteral("unknown request kind \"%1\": any, a command (20), command/parameter (24/20) or a "
                            "name (see --help)")
                 .arg(text);
    return false;
}

QList<AimList::Aim> AimList::count(int command, int parameter)
{
    QList<Aim> fired;
    for (auto aim = m_aims.begin(); aim != m_aims.end();) {
        aim->started = aim->started || matches(aim->fromCommand, aim->fromParameter, command, parameter);
        if (aim->started && matches(aim->command, aim->parameter, command, parameter) && ++aim->seen == aim->nth) {
            fired.append(*aim);
            aim = m_aims.erase(aim);
        } else {
            ++aim;
        }
    }
    return fired;
}

bool AimList::matches(int wantedCommand, int wantedParameter, int command, int parameter)
{
    return (wantedCommand < 0 || wantedCommand == command) && (wantedParameter < 0 || wantedParameter == parameter);
}

QString AimList::describe() const
{
    QStringList pending;
    for (const Aim &aim : m_aims)
        pending << QStringLiteral("%1 (%2 seen)").arg(aim.text()).arg(aim.seen);
    return QStringLiteral("aims: ") + (pending.isEmpty() ? QStringLiteral("none") : pending.join(QStringLiteral(", ")));
}
