#include "controlchannel.h"
#include "conversationlog.h"
#include "instancelock.h"
#include "ptyline.h"
#include "simoptions.h"
#include "simulator.h"
#include "terminationsignals.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace {

int fail(int status, const QString &message)
{
    std::fprintf(stderr, "d415-sim: %s\n", message.toLocal8Bit().constData());
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("d415-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(DOSER_VERSION));

    SimOptions options;
    if (!options.parse(QCoreApplication::arguments()))
        return fail(2, options.error() + QStringLiteral(" (see --help)"));
    if (options.helpRequested()) {
        std::fputs(SimOptions::helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (options.versionRequested()) {
        std::fputs("d415-sim " DOSER_VERSION "\n", stdout);
        return 0;
    }

    const QString linkPath = QStringLiteral("ports/") + options.linkName();
    InstanceLock lock;
    if (!lock.acquire(linkPath))
        return fail(1, QStringLiteral("another simulator already serves %1").arg(linkPath));

    TerminationSignals termination;
    // A workstation that closes its end must not kill the simulator through a write.
    std::signal(SIGPIPE, SIG_IGN);
    PtyLine line(linkPath);
    Simulator simulator(&line);
    for (const QString &command : options.startCommands()) {
        QString error;
        if (!simulator.runCommand(command, &error))
            return fail(2, QStringLiteral("%1: %2 (see --help)").arg(command, error));
    }
    QString error;
    if (!simulator.start(&error))
        return fail(1, error);

    QObject::connect(&termination, &TerminationSignals::terminationRequested, &application, [](int signalNumber) {
        ConversationLog::line("SIM", QStringLiteral("signal %1, ending").arg(signalNumber));
        QCoreApplication::quit();
    });
    QObject::connect(
        &simulator, &Simulator::quitRequested, &application, &QCoreApplication::quit, Qt::QueuedConnection);
    if (options.controlFromStdin()) {
        auto *control = new ControlChannel(&application);
        QObject::connect(control, &ControlChannel::lineReceived, &simulator, &Simulator::controlLine);
        if (options.exitOnEndOfInput()) {
            QObject::connect(control, &ControlChannel::finished, &application, [] {
                ConversationLog::line("SIM", QStringLiteral("end of standard input, ending"));
                QCoreApplication::quit();
            });
        }
    }

    const int status = QCoreApplication::exec();
    line.drop();
    ConversationLog::line("SIM", QStringLiteral("stopped, %1 removed").arg(linkPath));
    return status;
}
