#pragma once

#include <QString>

/// The working parameters a recipe keeps for the station: the product, the batch weight, the plus and
/// minus tolerances, and the weight unit and decimals the weights were set in. They are the station's own
/// table `receiptparameters` in the recipe file, beside the recipe classes' description table, one row.
/// Its `version` column tells which columns the row has: columns are only ever added, so a later station
/// reads every older file and this one reads the columns it knows of a newer one.
class ReceiptParameters
{
public:
    static constexpr int Version = 1;

    QString productName;
    QString taskWeight; // weights as text in the recipe's decimals, as the doser takes them
    QString doseFaultPlus;
    QString doseFaultMinus;
    QString weightUnit;
    int decimals = 0;

    /// Replaces the parameters of the existing recipe file at @p path in one transaction. False, with the
    /// reason for the operator in @p why, when the file is missing or does not take the write.
    bool write(const QString &path, QString *why) const;
    /// Reads the parameters of the recipe file at @p path. False, with the reason in @p why, when the
    /// file, the table or its one row is missing, or a value is not what the station can put into effect.
    bool read(const QString &path, QString *why);

private:
    bool valid(QString *why) const;
};
