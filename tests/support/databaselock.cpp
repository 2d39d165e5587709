#include "databaselock.h"

#include <sqlite3.h>

#include <chrono>

DatabaseLock::DatabaseLock(const QString &fileName, int holdMs)
{
    m_thread = std::thread(&DatabaseLock::hold, this, fileName.toUtf8(), holdMs);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_started; });
}

DatabaseLock::~DatabaseLock()
{
    release();
    m_thread.join();
}

bool DatabaseLock::isHeld() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_held;
}

void DatabaseLock::release()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_releaseWanted = true;
    }
    m_changed.notify_all();
}

void DatabaseLock::hold(const QByteArray &fileName, int holdMs)
{
    sqlite3 *db = nullptr;
    const bool held = sqlite3_open(fileName.constData(), &db) == SQLITE_OK
        && sqlite3_exec(db, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr) == SQLITE_OK;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_started = true;
    m_held = held;
    m_changed.notify_all();
    const auto wanted = [this] { return m_releaseWanted; };
    if (holdMs >= 0)
        m_changed.wait_for(lock, std::chrono::milliseconds(holdMs), wanted);
    else
        m_changed.wait(lock, wanted);
    if (held)
        sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
    m_held = false;
    lock.unlock();
    sqlite3_close(db);
}
