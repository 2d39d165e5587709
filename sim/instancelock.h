#pragma once

#include <QString>

/// Makes sure that only one simulator serves a given link: it holds an abstract local socket named
/// after the link's absolute path, which the kernel frees when the process ends however it ends. A
/// link found while the lock is free is therefore stale and may be replaced.
class InstanceLock
{
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    /// False when another simulator holds the lock for @p linkPath.
    bool acquire(const QString &linkPath);

private:
    int m_socket = -1;
};
