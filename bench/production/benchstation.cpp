#include "benchstation.h"

#include "d415_fendrix.h"
#include "serialport.h"
#include "simulatorprocess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>

#include <cstdio>

namespace BenchStation {

bool waitUntil(const std::function<bool()> &condition, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

bool startSimulator(SimulatorProcess &sim, const QStringList &arguments)
{
    QDir().mkdir(QStringLiteral("ports"));
    SerialPort::setSystemPortsListed(false);
    if (sim.start(arguments))
        return true;
    std::fprintf(stderr, "simulator: %s\n", qPrintable(sim.lastError()));
    return false;
}

void quietStationLog()
{
    std::fflush(stderr);
    if (!std::freopen("station.log", "w", stderr))
        std::perror("station.log");
}

bool showUntilConnected(D415_Fendrix &window, int ms)
{
    window.show();
    window.restoreLastSession();
    auto *unit = window.findChild<QLabel *>(QStringLiteral("weightlabel_7"));
    auto *state = window.findChild<QLabel *>(QStringLiteral("stateD415_11"));
    const bool connected = waitUntil(
        [&] { return unit->text() == QStringLiteral("кг") && state->text() == QStringLiteral("ОСТАНОВ"); }, ms);
    if (!connected)
        std::printf("the station did not reach the doser\n");
    return connected;
}

} // namespace BenchStation
