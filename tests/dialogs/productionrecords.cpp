#include "productionrecords.h"

ProductionRecords::ProductionRecords()
{
    m_query.open(QStringLiteral("data.db"));
    // The rows only have to be there for the dialogs' own connections; waiting for the disk on every
    // row would make the tests slow and prove nothing.
    m_query.runQuery(QStringLiteral("PRAGMA synchronous = OFF;"));
    m_query.runQuery(QStringLiteral("CREATE TABLE IF NOT EXISTS admin (password TEXT);"));
    m_query.runQuery(
        QStringLiteral("CREATE TABLE IF NOT EXISTS product (idProduct INTEGER PRIMARY KEY, productName TEXT);"));
    m_query.runQuery(QStringLiteral("CREATE TABLE IF NOT EXISTS butch (idButch INTEGER PRIMARY KEY, date TEXT, "
                                    "startTime TEXT, endTime TEXT, endDate TEXT);"));
    m_query.runQuery(
        QStringLiteral("CREATE TABLE IF NOT EXISTS task (idButch INTEGER, deviceId INTEGER, startTime TEXT, "
                       "endTime TEXT, taskWeight TEXT, haveDoneWeight TEXT, mustToBeDoneWeight TEXT, "
                       "productName TEXT, weightScale TEXT, startDate TEXT, endDate TEXT);"));
}

int ProductionRecords::lastBatchId()
{
    m_query.runQuery(QStringLiteral("SELECT max(idButch) FROM butch"));
    return m_query.cell(0, 0).toInt();
}

int ProductionRecords::addBatch(
    const QString &date, const QString &product, const QString &doneWeight, const QString &unit)
{
    m_query.runQuery(QStringLiteral("INSERT INTO butch (date, startTime, endTime, endDate) values (%1, '08:15', "
                                    "'08:42', %1);")
                         .arg(SqliteQuery::literal(date)));
    const int id = lastBatchId();
    m_query.runQuery(QStringLiteral("INSERT INTO task (idButch, deviceId, startTime, endTime, taskWeight, "
                                    "haveDoneWeight, mustToBeDoneWeight, productName, weightScale, startDate, "
                                    "endDate) values (%1, '30', '08:15', '08:42', %2, %3, '0.00', %4, %5, %6, %6);")
                         .arg(QString::number(id), SqliteQuery::literal(doneWeight), SqliteQuery::literal(doneWeight),
                             SqliteQuery::literal(product), SqliteQuery::literal(unit), SqliteQuery::literal(date)));
    return id;
}

int ProductionRecords::addEmptyBatch(const QString &date)
{
    m_query.runQuery(QStringLiteral("INSERT INTO butch (date, startTime, endTime, endDate) values (%1, '09:00', "
                                    "'09:01', %1);")
                         .arg(SqliteQuery::literal(date)));
    return lastBatchId();
}

void ProductionRecords::addProduct(const QString &name)
{
    m_query.runQuery(QStringLiteral("INSERT INTO product (idProduct, productName) values (NULL, %1);")
                         .arg(SqliteQuery::literal(name)));
}
