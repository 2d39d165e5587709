#pragma once

#include "sqlitequery.h"

#include <QString>

/// data.db in the working directory with the four tables the main window creates, and batch and task
/// rows written the way the main window leaves them: a finished batch with one task of doser 30.
class ProductionRecords
{
public:
    ProductionRecords();

    /// A finished batch started on `date` with one task of `product` that dispensed `doneWeight` in
    /// `unit`; returns the batch id.
    int addBatch(const QString &date, const QString &product, const QString &doneWeight,
        const QString &unit = QStringLiteral("кг"));
    /// A batch that was started and left without any task, as after a start that never got going.
    int addEmptyBatch(const QString &date);
    void addProduct(const QString &name);

    SqliteQuery &query() { return m_query; }

private:
    int lastBatchId();

    SqliteQuery m_query;
};
