#include "testworkdir.h"

#include <QDir>
#include <QStandardPaths>

TestWorkDir::TestWorkDir()
    : m_previousDir(QDir::currentPath())
{
    QDir(m_dir.path()).mkpath(QStringLiteral("config"));
    QDir(m_dir.path()).mkpath(QStringLiteral("data"));
    qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", m_dir.filePath(QStringLiteral("data")).toLocal8Bit());
    QDir::setCurrent(m_dir.path());
}

TestWorkDir::~TestWorkDir()
{
    QDir::setCurrent(m_previousDir);
}
