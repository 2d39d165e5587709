#pragma once

#include <QByteArray>

#include <cstdio>

/// Captures what the code under test writes to standard error, where the system's log lines go,
/// from construction until text() is first called.
class StderrCapture
{
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

    QByteArray text();

private:
    void restore();
    int m_saved = -1;
    FILE *m_file = nullptr;
};
