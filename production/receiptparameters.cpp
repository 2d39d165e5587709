#include "receiptparameters.h"

#include "sqlitequery.h"
#include "sqlitestatement.h"

#include <QFileInfo>

namespace {

// The doser formats its weights with 0 to 6 decimals.
constexpr int MaxDecimals = 6;

bool isWeight(const QString &text, bool mayBeZero)
{
    bool number = false;
    const double value = text.toDouble(&number);
    return number && (mayBeZero ? value >= 0 : value > 0);
}

bool run(SqliteQuery &file, const QString &text, QString *why)
{
    SqliteStatement statement(file.connection(), text);
    if (statement.execute())
        return true;
    *why = statement.errorText();
    return false;
}

} // namespace

bool ReceiptParameters::write(const QString &path, QString *why) const
{
    // Opening a missing file would make one: a recipe deleted meanwhile would come back without its description.
    if (!QFileInfo::exists(path)) {
        *why = QStringLiteral("файл рецепта не найден");
        return false;
    }
    SqliteQuery file;
    if (!file.open(path)) {
        *why = file.errorText();
        return false;
    }
    if (!run(file, QStringLiteral("BEGIN IMMEDIATE"), why))
        return false;
    const bool written = run(file,
                             QStringLiteral("CREATE TABLE IF NOT EXISTS receiptparameters (version INTEGER NOT NULL, "
                                            "productName TEXT NOT NULL, taskWeight TEXT NOT NULL, doseFaultPlus TEXT "
                                            "NOT NULL, doseFaultMinus TEXT NOT NULL, weightUnit TEXT NOT NULL, "
                                            "decimals INTEGER NOT NULL)"),
                             why)
        && run(file, QStringLiteral("DELETE FROM receiptparameters"), why);
    SqliteStatement insert(file.connection(),
        QStringLiteral("INSERT INTO receiptparameters (version, productName, taskWeight, doseFaultPlus, "
                       "doseFaultMinus, weightUnit, decimals) VALUES (?, ?, ?, ?, ?, ?, ?)"));
    insert.bindInteger(1, Version);
    insert.bindText(2, productName);
    insert.bindText(3, taskWeight);
    insert.bindText(4, doseFaultPlus);
    insert.bindText(5, doseFaultMinus);
    insert.bindText(6, weightUnit);
    insert.bindInteger(7, decimals);
    if (written && !insert.execute())
        *why = insert.errorText();
    if (written && !insert.failed() && run(file, QStringLiteral("COMMIT"), why))
        return true;
    QString ignored;
    run(file, QStringLiteral("ROLLBACK"), &ignored);
    return false;
}

bool ReceiptParameters::read(const QString &path, QString *why)
{
    if (!QFileInfo::exists(path)) {
        *why = QStringLiteral("файл рецепта не найден");
        return false;
    }
    SqliteQuery file;
    if (!file.open(path)) {
        *why = file.errorText();
        return false;
    }
    SqliteStatement table(file.connection(),
        QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'receiptparameters'"));
    const bool tableFound = table.step();
    if (table.failed()) {
        *why = QStringLiteral("файл рецепта повреждён (%1)").arg(table.errorText());
        return false;
    }
    if (!tableFound) {
        *why = QStringLiteral("в файле рецепта нет параметров дозатора");
        return false;
    }
    SqliteStatement row(file.connection(),
        QStringLiteral("SELECT version, productName, taskWeight, doseFaultPlus, doseFaultMinus, weightUnit, decimals "
                       "FROM receiptparameters"));
    if (!row.step()) {
        *why = row.failed() ? QStringLiteral("параметры рецепта повреждены (%1)").arg(row.errorText())
                            : QStringLiteral("параметры рецепта повреждены (нет записи)");
        return false;
    }
    for (int column = 0; column < 7; ++column) {
        if (row.columnIsNull(column)) {
            *why = QStringLiteral("параметры рецепта повреждены (пустое значение)");
            return false;
        }
    }
    const qint64 version = row.columnInteger(0);
    productName = row.columnText(1);
    taskWeight = row.columnText(2);
    doseFaultPlus = row.columnText(3);
    doseFaultMinus = row.columnText(4);
    weightUnit = row.columnText(5);
    decimals = int(row.columnInteger(6));
    // A second row would leave open which of the two recipes the file is.
    if (row.step() || row.failed()) {
        *why = QStringLiteral("параметры рецепта повреждены (больше одной записи)");
        return false;
    }
    if (version < 1) {
        *why = QStringLiteral("параметры рецепта повреждены (версия %1)").arg(version);
        return false;
    }
    return valid(why);
}

bool ReceiptParameters::valid(QString *why) const
{
    QString wrong;
    if (productName.trimmed().isEmpty())
        wrong = QStringLiteral("нет продукта");
    else if (!isWeight(taskWeight, false))
        wrong = QStringLiteral("вес партии «%1»").arg(taskWeight);
    else if (!isWeight(doseFaultPlus, true) || !isWeight(doseFaultMinus, true))
        wrong = QStringLiteral("погрешность «%1» / «%2»").arg(doseFaultPlus, doseFaultMinus);
    else if (weightUnit.trimmed().isEmpty())
        wrong = QStringLiteral("нет единицы веса");
    else if (decimals < 0 || decimals > MaxDecimals)
        wrong = QStringLiteral("формат числа %1").arg(decimals);
    if (wrong.isEmpty())
        return true;
    *why = QStringLiteral("параметры рецепта повреждены (%1)").arg(wrong);
    return false;
}
