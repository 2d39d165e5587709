#include "stationjournal.h"

#include "d415states.h"

namespace {
const QString Fault = QStringLiteral("АВАРИЯ");
constexpr int HighestErrorCode = 255;
} // namespace

StationJournal::StationJournal()
{
    // The station's own connection logs the open; this one would only repeat it.
    m_database.openQuietly(QStringLiteral("data.db"));
}

void StationJournal::record(int deviceId, const QString &kind, const QString &text, qint64 idButch)
{
    m_journal.record(deviceId, kind, text, idButch);
}

int StationJournal::errorCodeOf(const QString &message)
{
    for (int code = 1; code <= HighestErrorCode; ++code) {
        if (D415States::errorMessage(quint8(code)) == message)
            return code;
    }
    return 0;
}

void StationJournal::connectionError(int number, qint64 idButch)
{
    DoserMarks &marks = m_marks[number];
    if (marks.lost)
        return;
    marks.lost = true;
    record(number, QStringLiteral("lost"), QStringLiteral("Дозатор %1: НЕТ СВЯЗИ").arg(number), idButch);
}

void StationJournal::stateReported(int number, const QString &state, qint64 idButch)
{
    DoserMarks &marks = m_marks[number];
    if (marks.lost) {
        marks.lost = false;
        record(number, QStringLiteral("back"),
            QStringLiteral("Дозатор %1 отвечает, состояние %2").arg(number).arg(state), idButch);
    }
    if (state == Fault || !marks.inFault)
        return;
    marks.inFault = false;
    record(number, QStringLiteral("reset"),
        QStringLiteral("Дозатор %1: авария (ошибка %2) сброшена, состояние %3")
            .arg(number)
            .arg(marks.faultCode)
            .arg(state),
        idButch);
}

void StationJournal::faultReported(int number, const QString &message, qint64 idButch)
{
    DoserMarks &marks = m_marks[number];
    const int code = errorCodeOf(message);
    if (marks.inFault && marks.faultCode == code)
        return;
    marks.inFault = true;
    marks.faultCode = code;
    record(number, QStringLiteral("fault"),
        QStringLiteral("Дозатор %1: ошибка %2: %3").arg(number).arg(code).arg(message), idButch);
}

void StationJournal::stopDemanded(int number, qint64 idButch)
{
    DoserMarks &marks = m_marks[number];
    if (marks.inFault)
        return;
    marks.inFault = true;
    marks.faultCode = 0;
    record(
        number, QStringLiteral("fault"), QStringLiteral("Дозатор %1: авария без номера ошибки").arg(number), idButch);
}

void StationJournal::lineLost(const QString &portName)
{
    record(0, QStringLiteral("linelost"), QStringLiteral("Линия %1 потеряна").arg(portName), 0);
}

void StationJournal::lineBack(const QString &portName)
{
    record(0, QStringLiteral("lineback"), QStringLiteral("Линия %1 открыта снова").arg(portName), 0);
}
