#include "d415_fendrix.h"

#include <QCloseEvent>

#include <cstdio>

D415_Fendrix::D415_Fendrix(QWidget *parent)
    : QWidget(parent)
{
    setWindowFlags(windowFlags() & ~Qt::WindowMaximizeButtonHint);
    setFixedSize(895, 245);
    move(300, 300);
    setWindowTitle(QStringLiteral("Рабочее место дозатора D415 — служба поддержки КЭСТУ"));

    openDatabase();
}

D415_Fendrix::~D415_Fendrix()
{
    std::fputs("~D415_Fendrix()\n", stderr);
}

void D415_Fendrix::openDatabase()
{
    m_query.open(QStringLiteral("data.db"));
    runQuery(QStringLiteral("CREATE TABLE IF NOT EXISTS admin (password TEXT);"));
    runQuery(QStringLiteral("CREATE TABLE IF NOT EXISTS product (idProduct INTEGER PRIMARY KEY, productName TEXT);"));
    runQuery(QStringLiteral("CREATE TABLE IF NOT EXISTS butch (idButch INTEGER PRIMARY KEY, date TEXT, startTime TEXT, "
                            "endTime TEXT, endDate TEXT);"));
    runQuery(QStringLiteral("CREATE TABLE IF NOT EXISTS task (idButch INTEGER, deviceId INTEGER, startTime TEXT, "
                            "endTime TEXT, taskWeight TEXT, haveDoneWeight TEXT, mustToBeDoneWeight TEXT, "
                            "productName TEXT, weightScale TEXT, startDate TEXT, endDate TEXT);"));
}

void D415_Fendrix::runQuery(const QString &statement)
{
    m_query.runQuery(statement);
    resultColumns = m_query.columns();
    resultRows = m_query.rows();
    resultValues = m_query.values();
}

void D415_Fendrix::findCurrentButch()
{
    runQuery(QStringLiteral("SELECT idButch FROM butch WHERE endTime = \"\""));
    if (resultRows == 0 || resultValues.isEmpty()) {
        std::fputs("\nAll butches are finished", stderr);
        idButch = 0;
        return;
    }
    idButch = qint64(QString::fromUtf8(resultValues.first()).toULongLong());
    std::fprintf(stderr, "\nCurrent idButch is %lld", static_cast<long long>(idButch));
}

void D415_Fendrix::restoreLastSession()
{
    findCurrentButch();
}

void D415_Fendrix::stopAllWork()
{
    std::fputs("APPLICATION IS CLOSED, ALL WORKS ARE STOPPED\n", stderr);
}

void D415_Fendrix::closeEvent(QCloseEvent *event)
{
    stopAllWork();
    event->accept();
}
