#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class SqliteQuery;

/// The tables of data.db. The four designed tables (admin, product, butch, task) are created if missing,
/// with their fixed statements through `runQuery`; the program's own tables come in numbered upgrade
/// steps, and the file's `PRAGMA user_version` says how many have run, so that a file of any older
/// program opens and is brought up to date. Version 0 is a file with the designed tables only.
class ProductionSchema
{
public:
    /// One upgrade step: its statements, run in one transaction that also sets the new version.
    using Step = QStringList;
    enum class Outcome {
        Current, ///< the file was at this program's version already
        Upgraded, ///< one or more steps ran
        Newer, ///< the file comes from a newer program: left as it is
        Failed, ///< no connection, or a step failed and was rolled back (errorText() says why)
    };

    /// The steps of this program: step i brings a file from version i to version i + 1. Append only.
    static const QList<Step> &upgradeSteps();

    explicit ProductionSchema(SqliteQuery &database, QList<Step> steps = upgradeSteps());

    /// Creates the designed tables, then runs the steps the file has not had yet. A newer file and a failed
    /// step are reported on standard error; either way the designed tables are there to work with.
    Outcome prepare();

    /// The version this program brings a file to.
    int targetVersion() const { return int(m_steps.size()); }
    /// The file's version as read by the last prepare() (-1 when it could not be read).
    int fileVersion() const { return m_fileVersion; }
    const QString &errorText() const { return m_errorText; }

private:
    void createDesignedTables();
    bool readFileVersion();
    Outcome upgrade();
    bool runStep(int version);
    bool run(const QString &statement);

    SqliteQuery &m_database;
    QList<Step> m_steps;
    int m_fileVersion = -1;
    QString m_errorText;
};
