#pragma once

#include "eventjournal.h"
#include "sqlitequery.h"

#include <QByteArray>
#include <QDate>
#include <QDialog>
#include <QList>
#include <QString>

class CsvSaveDialog;
class QLabel;
class QPushButton;
class QTableWidget;

/// "Журнал событий": the station's events, newest first, of all days or of one day chosen with the
/// previous and next day buttons. Built for a touch panel: no scroll bars, but up and down buttons that
/// repeat while held; the next page is read when the list is scrolled to its end. "Сохранить" writes what
/// the filter shows as a semicolon-separated file in Windows-1251. Reads data.db over a connection of its
/// own and writes nothing.
class EventJournalWindow : public QDialog
{
    Q_OBJECT
public:
    explicit EventJournalWindow(QWidget *parent = nullptr);

    /// The newest events of all days.
    void showNewest();
    /// The events of @p day, newest first.
    void showDay(const QDate &day);
    /// The day shown; not valid while all days are.
    QDate day() const { return m_day; }
    int shownRows() const { return int(m_events.size()); }

    /// "журнал_<day>.csv", or with the first and last day shown when all days are.
    QString proposedFileName() const;
    /// What the filter shows (a whole day, or the rows read of all days) as the file holds it.
    QByteArray csvText() const;

signals:
    /// The events were written to @p fileName.
    void exported(const QString &fileName);

private:
    void buildLayout();
    QPushButton *addButton(const QString &text, const char *name);
    void reload();
    bool readNextPage();
    void appendRows(int from);
    void step(int rows);
    void stepDay(int days);
    void save();
    QString dayTitle() const;
    static QString shownTime(const QString &stored);

    SqliteQuery m_database;
    EventJournal m_journal {m_database};
    QDate m_day;
    QList<EventJournal::Event> m_events;
    bool m_allRead = false;
    QLabel *m_dayLabel = nullptr;
    QTableWidget *m_table = nullptr;
    CsvSaveDialog *m_saveDialog = nullptr;
};
