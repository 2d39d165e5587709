#pragma once

#include <QStringList>

#include <functional>

class D415_Fendrix;
class SimulatorProcess;

/// What the station benchmarks share: the simulator in the current (fresh) working directory with only
/// ports/ listed, the station's own log lines out of the figures, and waits that run the event loop.
namespace BenchStation {

/// Runs the event loop until @p condition holds; false when @p ms pass first.
bool waitUntil(const std::function<bool()> &condition, int ms);
/// Lists only ports/ and starts the simulator with @p arguments; says why on standard error when not.
bool startSimulator(SimulatorProcess &sim, const QStringList &arguments = {});
/// Sends standard error (the station's log lines) to station.log from now on.
void quietStationLog();
/// Shows the window, runs its restore check and waits until the doser's unit has been read, that is
/// until the connection test has been answered; says so on standard output when it was not.
bool showUntilConnected(D415_Fendrix &window, int ms = 5000);

} // namespace BenchStation
