#pragma once

#include "sqlitequery.h"
#include "ui_statform.h"

#include <QByteArray>
#include <QDialog>
#include <QList>
#include <QString>

class CsvSaveDialog;
class QEvent;
class QMessageBox;
class QTextCodec;

// Statistics of dispensed weight: the operator picks a first and a last production day, the dialog
// turns them into a range of batch ids and shows, per product, the weight really dispensed in that
// range in kilograms; "Сохранить" writes the table as a semicolon-separated file for a spreadsheet.
// It reads data.db over a connection of its own and writes nothing but its look-up indexes.
class Stat : public QDialog, public Ui::statForm
{
    Q_OBJECT
public:
    explicit Stat(QWidget *parent = nullptr);
    ~Stat() override;

    // Re-reads the production days into the first-day list with nothing chosen; the last-day list and
    // the table keep what they showed until a first day is picked. Run before every opening.
    void reloadDates();

    // Writes the table as CSV in Windows-1251 to fileName; on failure returns false and, if error is
    // given, the reason as the system reports it.
    bool writeCsv(const QString &fileName, QString *error = nullptr) const;
    // The name the save dialog proposes: "статистика_<first day>-<last day>.csv".
    QString proposedFileName() const;

signals:
    void closeClicked();
    void windowHided();
    // The table was written to fileName.
    void exported(const QString &fileName);

public slots:
    void saveProduct();
    void addDateTo(int index);
    qreal getSumWeight(int first, int last, const QString &product, const QString &unit);
    void getStat();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void ensureIndexes();
    void connectDayLists();
    void disconnectDayLists();
    int firstIdResult() const;
    void showProducts(const QList<QByteArray> &names, int first, int last);
    QByteArray csvText(QTextCodec *codec) const;

    SqliteQuery m_query;
    bool m_indexesReady = false;
    CsvSaveDialog *m_saveDialog = nullptr;
};
