#include "stderrcapture.h"

#include <unistd.h>

StderrCapture::StderrCapture()
{
    std::fflush(stderr);
    m_saved = dup(STDERR_FILENO);
    m_file = std::tmpfile();
    dup2(fileno(m_file), STDERR_FILENO);
}

StderrCapture::~StderrCapture()
{
    restore();
    std::fclose(m_file);
}

QByteArray StderrCapture::text()
{
    restore();
    std::rewind(m_file);
    QByteArray all;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0)
        all.append(buffer, qsizetype(n));
    return all;
}

void StderrCapture::restore()
{
    if (m_saved < 0)
        return;
    std::fflush(stderr);
    dup2(m_saved, STDERR_FILENO);
    close(m_saved);
    m_saved = -1;
}
