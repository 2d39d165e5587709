#include "linekeeper.h"

#include <cstdio>

LineKeeper::LineKeeper(QObject *parent)
    : QObject(parent)
{
    m_timer.setInterval(RetryIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &LineKeeper::tick);
}

void LineKeeper::opened(const QString &name, bool open)
{
    if (name.isEmpty()) {
        enter(State::Searching, QString());
        return;
    }
    if (!open) {
        // Another port chosen while the lost one was tried: that loss is over, whatever comes of it.
        if (name != m_portName)
            m_lossLogged = false;
        enter(State::Reopening, name);
        return;
    }
    const bool returned = m_lossLogged && name == m_portName;
    if (returned)
        std::fprintf(stderr, "Line %s open again\n", qPrintable(name));
    m_lossLogged = false;
    enter(State::Open, name);
    if (returned)
        emit lossEnded(name);
}

void LineKeeper::lost(const QString &name)
{
    // One line per loss, however many attempts it takes; a loss while one is still logged adds nothing.
    const bool began = !m_lossLogged;
    if (began)
        std::fprintf(stderr, "Line %s lost, trying to open it again every second\n", qPrintable(name));
    m_lossLogged = true;
    enter(State::Reopening, name);
    if (began)
        emit lossBegan(name);
}

void LineKeeper::enter(State state, const QString &name)
{
    m_state = state;
    m_portName = name;
    if (state == State::Open)
        m_timer.stop();
    else if (!m_timer.isActive())
        m_timer.start();
}

void LineKeeper::tick()
{
    switch (m_state) {
    case State::Open: m_timer.stop(); break;
    case State::Reopening: emit reopenDue(m_portName); break;
    case State::Searching: emit searchDue(); break;
    }
}
