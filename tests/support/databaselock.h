#pragma once

#include <QString>

#include <condition_variable>
#include <mutex>
#include <thread>

/// Another program's write lock on a database file (a backup tool, a spreadsheet reading the
/// statistics): "BEGIN EXCLUSIVE" on a connection and a thread of its own, so that the lock can end
/// while the code under test is blocked waiting for it.
class DatabaseLock
{
public:
    /// Returns once the lock is held (or could not be taken, see isHeld()). With holdMs >= 0 the lock
    /// is let go that long after it was taken; otherwise it is held until release() or destruction.
    explicit DatabaseLock(const QString &fileName, int holdMs = -1);
    ~DatabaseLock();
    DatabaseLock(const DatabaseLock &) = delete;
    DatabaseLock &operator=(const DatabaseLock &) = delete;

    bool isHeld() const;
    void release();

private:
    void hold(const QByteArray &fileName, int holdMs);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_started = false;
    bool m_held = false;
    bool m_releaseWanted = false;
    std::thread m_thread;
};
