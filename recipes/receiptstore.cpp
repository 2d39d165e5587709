#include "receiptstore.h"

#include "sqlitequery.h"

#include <sqlite3.h>

#include <QFileInfo>
#include <QStandardPaths>

namespace ReceiptStore {

namespace {

const QString extension = QStringLiteral(".db");

QString &path()
{
    static QString storePath;
    return storePath;
}

QString perUserStorePath()
{
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty())
        return QString();
    return dataHome + QLatin1Char('/') + QLatin1String(organisationFolder) + QLatin1Char('/')
        + QLatin1String(applicationFolder) + QStringLiteral("/programs/");
}

/// Every entry of the store whose name equals fileName without regard to letter case.
QStringList entriesLike(const QString &fileName)
{
    QStringList found;
    const QStringList entries
        = storeDirectory().entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        if (entry.compare(fileName, Qt::CaseInsensitive) == 0)
            found.append(entry);
    }
    return found;
}

} // namespace

void createStoreDir()
{
    QString chosen = perUserStorePath();
    if (chosen.isEmpty() || !QDir().mkpath(chosen)) {
        // Kept absolute so that a later change of the working directory cannot move the store.
        chosen = QDir::current().absoluteFilePath(QStringLiteral("programs")) + QLatin1Char('/');
        QDir().mkpath(chosen);
    }
    path() = chosen;
}

QString storePath()
{
    return path();
}

QDir storeDirectory()
{
    return QDir(path());
}

QString fullPath(const QString &name)
{
    return path() + name + extension;
}

QStringList receiptNames()
{
    QDir dir = storeDirectory();
    dir.setNameFilters({QStringLiteral("*.db")});
    // Case-sensitive: "X.DB" is not the file "X.db" that the recipe's full path names.
    dir.setFilter(QDir::Files | QDir::Hidden | QDir::NoSymLinks | QDir::CaseSensitive);
    dir.setSorting(QDir::Name);
    QStringList names = dir.entryList();
    for (QString &name : names)
        name.chop(extension.size());
    return names;
}

bool fileExists(const QString &name)
{
    return !entriesLike(name + extension).isEmpty();
}

bool hasForbiddenCharacter(const QString &name)
{
    static const QString forbidden = QStringLiteral("\\/:*?<>|\"");
    for (const QChar c : name) {
        if (forbidden.contains(c))
            return true;
    }
    return false;
}

bool createReceipt(const QString &name, const QString &description)
{
    const QString file = fullPath(name);
    const bool existedBefore = QFileInfo::exists(file);
    bool created = false;
    {
        // Both statements run even after a failed open, so that the log tells the whole story.
        SqliteQuery query;
        created = query.open(file);
        query.runQuery(QStringLiteral("CREATE TABLE IF NOT EXISTS receiptdescription (description TEXT);"));
        created = created && query.returnCode() == SQLITE_OK;
        query.runQuery(QStringLiteral("INSERT INTO receiptdescription (description) values (%1);")
                           .arg(SqliteQuery::literal(description)));
        created = created && query.returnCode() == SQLITE_OK;
    } // closed here, before a failed file is removed
    if (!created && !existedBefore)
        QFile::remove(file);
    return created;
}

QString readDescription(const QString &name, const QString &emptyDescription)
{
    // Opening a missing file would create an empty one, and a recipe deleted behind the list's back
    // would come back without its parameters.
    if (!QFileInfo::exists(fullPath(name)))
        return emptyDescription;
    SqliteQuery query;
    query.open(fullPath(name));
    query.runQuery(QStringLiteral("select * from receiptdescription"));
    if (query.values().isEmpty())
        return emptyDescription;
    return query.cell(0, 0);
}

void updateDescription(const QString &name, const QString &description)
{
    if (!QFileInfo::exists(fullPath(name)))
        return;
    SqliteQuery query;
    query.open(fullPath(name));
    query.runQuery(
        QStringLiteral("update receiptdescription set description = %1").arg(SqliteQuery::literal(description)));
}

bool renameReceipt(const QString &oldName, const QString &newName)
{
    const QString oldFile = oldName + extension;
    const QString newFile = newName + extension;
    QStringList clashes = entriesLike(newFile);
    clashes.removeAll(oldFile);
    if (!clashes.isEmpty())
        return false;
    return storeDirectory().rename(oldFile, newFile);
}

void removeReceipt(const QString &name)
{
    QFile::remove(fullPath(name));
}

} // namespace ReceiptStore
