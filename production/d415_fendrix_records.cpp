// Batch and task records: every statement on the tables butch and task, and the restore of an unfinished
// batch after a restart or a lost connection.
#include "d415_fendrix.h"
#include "ui_d415_fendrix.h"

#include "panelcodes.h"

#include "d415device.h"

#include <QCoreApplication>
#include <QDate>
#include <QGroupBox>
#include <QLabel>
#include <QTime>

#include <cstdio>

using namespace PanelCodes;

namespace {
// Columns of "SELECT * FROM task".
constexpr int TaskDeviceIdColumn = 1;
constexpr int TaskWeightColumn = 4;
constexpr int TaskDoneColumn = 5;
constexpr int TaskMustColumn = 6;
constexpr int TaskProductColumn = 7;
constexpr int TaskColumns = 11;
} // namespace

QString D415_Fendrix::currentTime()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm"));
}

QString D415_Fendrix::currentDate()
{
    return QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"));
}

bool D415_Fendrix::findCurrentButch()
{
    runQuery(QStringLiteral("SELECT idButch FROM butch WHERE endTime = \"\""));
    if (m_query.returnCode() != 0) {
        // A look that failed has found nothing, not "no open batch".
        std::fprintf(stderr, "\nCan't look for an open butch: %s", qPrintable(m_query.errorText()));
        idButch = 0;
        return false;
    }
    if (m_query.rows() == 0) {
        std::fputs("\nAll butches are finished", stderr);
        idButch = 0;
        return true;
    }
    idButch = qint64(m_query.cell(0, 0).toULongLong());
    std::fprintf(stderr, "\nCurrent idButch is %lld", static_cast<long long>(idButch));
    return true;
}

// Another program holding data.db (a backup, a copy of the statistics) must not make an open batch look
// finished: it would not be offered and the next start would close it. The look is repeated for a while,
// the events going on, before the station gives up.
bool D415_Fendrix::lookForOpenButch()
{
    constexpr int Attempts = 5;
    constexpr int PauseMs = 1000;
    for (int attempt = 1; attempt < Attempts; ++attempt) {
        if (findCurrentButch())
            return true;
        pause(PauseMs);
    }
    return findCurrentButch();
}

void D415_Fendrix::addButch()
{
    std::fputs(
        "Butch table is empty, or all butches has been already finished, just need to add a new record\n", stderr);
    runQuery(QStringLiteral("INSERT INTO butch (date, startTime, endTime, endDate) values (\"%1\", \"%2\", \"%3\", "
                            "\"%4\");")
                 .arg(currentDate(), currentTime(), QString(), QString()));
    findCurrentButch();
}

// Product names are the operator's free text: they go in as SQL literals so that quotes or a column's
// name can neither break the statement nor compare as something else.
bool D415_Fendrix::addTask(int position)
{
    const DoserState &doser = doserState[position];
    std::fputs("\nAdd new task", stderr);
    runQuery(QStringLiteral("INSERT INTO task (idButch, deviceId, startTime, endTime, taskWeight, haveDoneWeight, "
                            "mustToBeDoneWeight, productName, weightScale, startDate, endDate) values (%1, \"%2\", "
                            "\"%3\", \"%4\", \"%5\", \"%6\", \"%7\", %8, \"%9\", \"%10\", \"%11\");")
                 .arg(QString::number(idButch), QString::number(d415[position]->getDeviceID()), currentTime(),
                     QStringLiteral(" "), formatWeight(position, doser.taskWeight), QString(),
                     formatWeight(position, doser.mustToBeDoneWeight),
                     SqliteQuery::literal(d415[position]->productName()), doser.weightUnit, currentDate(), QString()));
    return statementDone(true);
}

bool D415_Fendrix::updateTaskProgress(int position)
{
    const DoserState &doser = doserState[position];
    runQuery(QStringLiteral("UPDATE task SET haveDoneWeight = \"%1\", mustToBeDoneWeight = \"%2\" WHERE idButch = %3 "
                            "AND deviceId = %4")
                 .arg(formatWeight(position, doser.haveDoneWeight), formatWeight(position, doser.mustToBeDoneWeight),
                     QString::number(idButch), QString::number(d415[position]->getDeviceID())));
    return statementDone(true);
}

bool D415_Fendrix::continueTask(int position)
{
    const DoserState &doser = doserState[position];
    runQuery(QStringLiteral("UPDATE task SET taskWeight = \"%1\", mustToBeDoneWeight = \"%2\", productName = %3 WHERE "
                            "idButch = %4 AND deviceId = %5")
                 .arg(formatWeight(position, doser.taskWeight), formatWeight(position, doser.mustToBeDoneWeight),
                     SqliteQuery::literal(d415[position]->productName()), QString::number(idButch),
                     QString::number(d415[position]->getDeviceID())));
    return statementDone(true);
}

bool D415_Fendrix::finishTask(int position)
{
    const DoserState &doser = doserState[position];
    runQuery(QStringLiteral("UPDATE task SET endTime = \"%1\", taskWeight = \"%2\", haveDoneWeight = \"%3\", "
                            "mustToBeDoneWeight = \"%4\", productName = %5, weightScale = \"%6\", endDate = \"%7\" "
                            "WHERE idButch = %8 AND deviceId = %9")
                 .arg(currentTime(), formatWeight(position, doser.taskWeight),
                     formatWeight(position, doser.haveDoneWeight), formatWeight(position, doser.mustToBeDoneWeight),
                     SqliteQuery::literal(d415[position]->productName()), doser.weightUnit, currentDate(),
                     QString::number(idButch), QString::number(d415[position]->getDeviceID())));
    return statementDone(true);
}

bool D415_Fendrix::finishButch()
{
    runQuery(QStringLiteral("UPDATE butch SET endTime = \"%1\", endDate = \"%2\" WHERE idButch = %3")
                 .arg(currentTime(), currentDate(), QString::number(idButch)));
    return statementDone(true);
}

// Every task of the batch gets the end, also tasks finished earlier and tasks of other dosers.
bool D415_Fendrix::finishButchTasks()
{
    runQuery(QStringLiteral("UPDATE task SET endTime = \"%1\", endDate = \"%2\" WHERE idButch = %3")
                 .arg(currentTime(), currentDate(), QString::number(idButch)));
    return statementDone(false);
}

bool D415_Fendrix::writeWitness(int position)
{
    const DoseLedger::Witness &witness = doserState[position].witness;
    if (m_witnessRecords.write(idButch, d415[position]->getDeviceID(), {witness.counter, witness.hopper}))
        return true;
    ++failedStatements;
    m_recordFailure = m_witnessRecords.lastError();
    return false;
}

// A statement of a batch has done its part when SQLite took it and, for an update of the running batch,
// when it found the row: an update of nothing records nothing.
bool D415_Fendrix::statementDone(bool mustChangeRows)
{
    if (m_query.returnCode() != 0) {
        m_recordFailure = m_query.errorText();
        return false;
    }
    if (mustChangeRows && m_query.changes() == 0) {
        m_recordFailure = QStringLiteral("запись задания не найдена");
        return false;
    }
    return true;
}

// The statements of one step of a running batch go in together or not at all, so that the figures and
// the doser's witness recorded with them never disagree. A step that fails (a lock held longer than the
// connection waits, a full disk, a file that cannot be written) is tried once more.
bool D415_Fendrix::recordBatchStep(const std::function<bool()> &statements)
{
    constexpr int Attempts = 2;
    for (int attempt = 1; attempt <= Attempts; ++attempt) {
        runQuery(QStringLiteral("BEGIN IMMEDIATE"));
        if (!statementDone(false)) {
            std::fprintf(stderr, "\nThe butch can not be recorded: %s\n", qPrintable(m_recordFailure));
            continue;
        }
        if (statements()) {
            runQuery(QStringLiteral("COMMIT"));
            if (statementDone(false))
                return true;
        }
        const QString cause = m_recordFailure;
        runQuery(QStringLiteral("ROLLBACK"));
        m_recordFailure = cause;
        std::fprintf(stderr, "\nThe butch can not be recorded: %s\n", qPrintable(m_recordFailure));
    }
    return false;
}

void D415_Fendrix::newButch()
{
    const QString id = QString::number(idButch);
    const int failuresBefore = failedStatements;
    runQuery(QStringLiteral("SELECT haveDoneWeight FROM task WHERE idButch = %1 AND haveDoneWeight != \"\"").arg(id));
    if (failedStatements != failuresBefore) {
        // A failed look is no empty batch: deleting now could take counted weight with it. The batch stays
        // open and is offered again.
        std::fputs("\nCan't tell whether the butch has done tasks, it is left open", stderr);
        return;
    }
    if (m_query.rows() > 0) {
        std::fputs("\nNeed to finish tasks in butch", stderr);
        finishButch();
        finishButchTasks();
        return;
    }
    std::fputs("\nDeleteing empty butch", stderr);
    runQuery(QStringLiteral("DELETE FROM task WHERE idButch = %1").arg(id));
    runQuery(QStringLiteral("DELETE FROM butch WHERE idButch = %1").arg(id));
}

// A closed batch takes no more discharges: the doser's part of it is over.
void D415_Fendrix::abandonDoserTask(int position)
{
    DoserState &doser = doserState[position];
    doser.idle = true;
    doser.downloadPending = false;
    doser.uploadPending = false;
    doser.firstDischargeMarker = false;
    doser.firstDischargeCounted = false;
}

void D415_Fendrix::restoreLastSession()
{
    m_openButchUnknown = false;
    if (!lookForOpenButch()) {
        m_openButchUnknown = true;
        std::fputs("\nThe butches can not be read, an unfinished butch may be waiting\n", stderr);
        // A data.db that takes no records has been reported at start-up already; a second box about the
        // same file would only make the operator answer twice.
        if (m_recordsProblem.isEmpty())
            inform(QStringLiteral("Не удалось прочитать записи заданий в базе данных: %1.\nНезавершённое задание может "
                                  "ожидать восстановления: оно будет предложено снова при начале задания.")
                       .arg(m_query.errorText()));
        setDeviceActive0(true);
        return;
    }
    if (idButch == 0) {
        setDeviceActive0(true);
        return;
    }
    const Answer answer = askAnswer(QStringLiteral("Последнее задание не завершено.\nВосстановить данные?"));
    if (answer == Answer::Dismissed) {
        // The doser was lost while the question was open: nobody answered, so the batch stays as it is and
        // is offered again when the doser comes back.
        return;
    }
    if (answer == Answer::No) {
        journalEvent(QStringLiteral("restore"), QStringLiteral("Незавершённое задание не восстановлено"));
        newButch();
        for (int position = 0; position < DoserCount; ++position)
            abandonDoserTask(position);
        if (!batchRunning && !continueMode)
            enableControlElementsWhenButchIsDone();
        setDeviceActive0(true);
        return;
    }

    partsLeft = 0;
    runQuery(QStringLiteral("SELECT * FROM task WHERE idButch = %1").arg(idButch));
    // Copied: the events processed below may run statements of their own.
    const QList<QByteArray> cells = m_query.values();
    const int columns = m_query.columns();
    const int rows = columns < TaskColumns ? 0 : m_query.rows();
    for (int row = 0; row < rows; ++row) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        auto cell = [&](int column) { return QString::fromUtf8(cells.value(row * columns + column)); };
        const int position = positionOf(cell(TaskDeviceIdColumn).toInt());
        if (position < 0)
            continue;
        DoserState &doser = doserState[position];
        ++partsLeft;
        changeD415Product(position, cell(TaskProductColumn));
        if (QGroupBox *container = findContainer(position))
            container->setChecked(true);
        ui->productWeightD415_11->setEnabled(true);
        ui->doseFaultPlusD415_11->setEnabled(true);
        ui->doseFaultMinusD415_11->setEnabled(true);
        QLabel *done = getLabel(0, DoneWeightCode);
        if (done)
            done->setEnabled(true);
        ui->productWeightD415_11->setText(cell(TaskWeightColumn));
        if (done)
            done->setText(cell(TaskDoneColumn));
        doser.taskWeight = cell(TaskWeightColumn).toDouble();
        doser.haveDoneWeight = cell(TaskDoneColumn).toDouble();
        doser.mustToBeDoneWeight = cell(TaskMustColumn).toDouble();
        doser.doseWeight = nextDoseWeight(position, doser.mustToBeDoneWeight);
        doser.idle = false;
        setDeviceActive0(true);
    }
    // A batch without a task of this doser (the station stopped between the batch row and the task row)
    // must not leave the doser switched off: the station would never talk to it again.
    if (!d415[0]->isDeviceActive())
        setDeviceActive0(true);
    if (partsLeft == 0) {
        closeForeignButch();
        return;
    }
    batchRunning = true;
    stopButtonActions();
    journalEvent(QStringLiteral("restore"), journalWeights(0));
}

// An open batch with no task of this doser (its number was changed since, or the station stopped between
// the batch row and the task row) has nothing this station could continue: offered as stopped, a continue
// would run with nothing sent and the polling off. It is closed with its records kept, as a finished batch
// is, and the station goes back to idle and polls.
void D415_Fendrix::closeForeignButch()
{
    const int number = d415[0]->getDeviceID();
    const bool closed = recordBatchStep([this] { return finishButch() && finishButchTasks(); });
    for (int position = 0; position < DoserCount; ++position)
        abandonDoserTask(position);
    if (closed)
        idButch = 0;
    enableControlElementsWhenButchIsDone();
    if (!pollTimer.isActive())
        pollTimer.start(190);
    if (!closed) {
        // Left open, the batch is closed by the next start, as any open batch is.
        std::fprintf(stderr, "\nThe unfinished butch has no task of device %d and can not be closed\n", number);
        inform(QStringLiteral("Незавершённое задание не относится к дозатору %1. Закрыть его не удалось: %2.")
                   .arg(QString::number(number), m_recordFailure));
        return;
    }
    std::fprintf(stderr, "\nThe unfinished butch has no task of device %d, it is closed\n", number);
    inform(QStringLiteral("Незавершённое задание не относится к дозатору %1 и закрыто.").arg(number));
}
