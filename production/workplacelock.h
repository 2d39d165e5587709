#pragma once

/// One station per working directory: two would share data.db and ports/. The lock is an flock on the
/// directory itself, so it makes no file (it works where nothing can be written) and the kernel frees it
/// when the process ends however it ends. A station in another directory, on another port, is not held.
class WorkplaceLock
{
public:
    WorkplaceLock() = default;
    ~WorkplaceLock();
    WorkplaceLock(const WorkplaceLock &) = delete;
    WorkplaceLock &operator=(const WorkplaceLock &) = delete;

    /// False when another process holds the current working directory.
    bool acquire();

private:
    int m_fd = -1;
};
