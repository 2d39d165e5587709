#include "eventjournal.h"

QStringList EventJournal::createStatements()
{
    // The time is local "yyyy-MM-dd HH:mm:ss.zzz": it sorts as text, so one day is a range on the index.
    return {QStringLiteral("CREATE TABLE IF NOT EXISTS eventJournal (idEvent INTEGER PRIMARY KEY, time TEXT NOT NULL, "
                           "deviceId INTEGER, kind TEXT NOT NULL, text TEXT NOT NULL, idButch INTEGER)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS eventJournalTime ON eventJournal (time)")};
}
