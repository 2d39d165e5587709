#include "d415_fendrix.h"
#include "serialport.h"
#include "terminationwatcher.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QStyleFactory>
#include <QTranslator>

#include <cstdio>
#include <cstring>

namespace {

const char helpText[] = "Usage: d415-workstation [--ports-only] [Qt options]\n"
                        "The operator workstation of the D415 doser, working in the current directory.\n"
                        "\n"
                        "  --ports-only  list and open only the entries of ports/ in the working directory,\n"
                        "                never the machine's own serial devices (tests, commissioning)\n"
                        "  -h, --help    show this text and exit\n";

bool hasOption(int argc, char *argv[], const char *option)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], option) == 0)
            return true;
    }
    return false;
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
    if (hasOption(argc, argv, "--ports-only"))
        SerialPort::setSystemPortsListed(false);

    QApplication application(argc, argv);

    // Qt's own buttons and the file dialog speak Russian like the rest of the station.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        application.installTranslator(&qtTranslator);

    int exitCode = 0;
    {
        D415_Fendrix window;
        TerminationWatcher watcher(&window);
        QFont font = QApplication::font();
        font.setPointSize(8);
        QApplication::setFont(font);
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        window.show();
        window.restoreLastSession();
        // A termination signal while the start-up restore question waits closes the window before the event
        // loop runs; a loop started then would wait for a close that has already happened.
        if (window.isVisible())
            exitCode = application.exec();
    }
    return exitCode;
}
