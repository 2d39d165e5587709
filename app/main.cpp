#include "d415_fendrix.h"
#include "panelscale.h"
#include "serialport.h"
#include "terminationwatcher.h"
#include "touchstyle.h"
#include "workplacelock.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QStyleFactory>
#include <QTranslator>

#include <cstdio>
#include <cstring>

namespace {

const char versionText[] = "d415-workstation " DOSER_VERSION "\n";

const char helpText[] = "Usage: d415-workstation [--ports-only] [--scale=PERCENT|fit] [Qt options]\n"
                        "The operator workstation of the D415 doser, working in the current directory.\n"
                        "\n"
                        "  --ports-only  list and open only the entries of ports/ in the working directory,\n"
                        "                never the machine's own serial devices (tests, commissioning)\n"
                        "  --scale=PERCENT|fit\n"
                        "                the size of the whole interface: 100 as designed, 125 a quarter larger,\n"
                        "                fit the largest that leaves no window wider than the screen; without\n"
                        "                the option the setting uiScale (KESTU/D415_Test) gives it\n"
                        "  -h, --help    show this text and exit\n"
                        "  --version     show the version and exit\n"
                        "\n"
                        "It keeps data.db, ports/ and its log of batches in the working directory; one\n"
                        "station per directory. Its log goes to standard error.\n";

bool hasOption(int argc, char *argv[], const char *option)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], option) == 0)
            return true;
    }
    return false;
}

// A second station in the same directory would share data.db and the line: it says so and ends.
int refuseSecondCopy()
{
    const QString folder = QDir::currentPath();
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Сообщение"),
        QStringLiteral("В папке %1 уже работает рабочее место дозатора. Вторая копия не запускается.").arg(folder));
    // Watching before telling: a service manager that stops us on reading the line ends us the orderly way.
    TerminationWatcher watcher(&box);
    std::fprintf(stderr, "Another workstation is running in %s, this one ends\n", qPrintable(folder));
    box.exec();
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    // Read before the application object: the help needs no display. The command line still goes to
    // Qt unchanged, which passes over options it does not know.
    if (hasOption(argc, argv, "--help") || hasOption(argc, argv, "-h")) {
        std::fputs(helpText, stdout);
        return 0;
    }
    if (hasOption(argc, argv, "--version")) {
        std::fputs(versionText, stdout);
        return 0;
    }
    if (hasOption(argc, argv, "--ports-only"))
        SerialPort::setSystemPortsListed(false);

    // Qt takes its scale factor from the environment once, when the application object is made.
    PanelScale::applyBeforeApplication(argc, argv);
    QApplication application(argc, argv);

    // Qt's own buttons and the file dialog speak Russian like the rest of the station.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        application.installTranslator(&qtTranslator);

    WorkplaceLock workplace;
    if (!workplace.acquire())
        return refuseSecondCopy();

    int exitCode = 0;
    {
        D415_Fendrix window;
        TerminationWatcher watcher(&window);
        QFont font = QApplication::font();
        font.setPointSize(8);
        QApplication::setFont(font);
        QApplication::setStyle(new TouchStyle(QStyleFactory::create(QStringLiteral("Fusion"))));
        window.show();
        window.warnIfRecordsUnusable();
        window.restoreLastSession();
        // A termination signal while the start-up restore question waits closes the window before the event
        // loop runs; a loop started then would wait for a close that has already happened.
        if (window.isVisible())
            exitCode = application.exec();
    }
    return exitCode;
}
