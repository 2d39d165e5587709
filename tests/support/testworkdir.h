#pragma once

#include <QString>
#include <QTemporaryDir>

/// A fresh temporary working directory for one test: the process moves into it (data.db and ports/
/// are opened by relative name), and the per-user configuration and data folders point inside it,
/// so no test touches the user's settings, recipes or the machine's own serial devices.
class TestWorkDir
{
public:
    TestWorkDir();
    ~TestWorkDir();
    TestWorkDir(const TestWorkDir &) = delete;
    TestWorkDir &operator=(const TestWorkDir &) = delete;

    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }
    bool isValid() const { return m_dir.isValid(); }

private:
    QTemporaryDir m_dir;
    QString m_previousDir;
};
