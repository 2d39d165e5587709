#include "d415_fendrix.h"
#include "terminationwatcher.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QStyleFactory>
#include <QTranslator>

int main(int argc, char *argv[])
{
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
