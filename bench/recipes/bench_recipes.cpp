// Figures for the recipe store and the recipe manager: how long listing and reading recipes take with
// a large store, and what the manager costs in CPU when idle and while a button is held.
#include "receiptdialog.h"
#include "receiptstore.h"
#include "testworkdir.h"

#include <QtTest>
#include <QtWidgets>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

namespace {

double cpuMs()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

double medianMs(QList<qint64> nanoseconds)
{
    std::sort(nanoseconds.begin(), nanoseconds.end());
    return nanoseconds.at(nanoseconds.size() / 2) / 1e6;
}

// CPU milliseconds the process uses per second of wall time while a plain event loop runs for `ms`
// (QTest::qWait would poll every 10 ms and be measured itself).
double cpuPerSecond(int ms)
{
    const double before = cpuMs();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return (cpuMs() - before) * 1000.0 / ms;
}

QString name(int i)
{
    return QStringLiteral("Рецепт %1").arg(i, 4, 10, QLatin1Char('0'));
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    TestWorkDir dir;
    ReceiptStore::createStoreDir();
    // The log lines of every open and statement would drown the figures.
    std::freopen("/dev/null", "w", stderr);

    const int recipes = 500;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < recipes; ++i)
        ReceiptStore::createReceipt(name(i), QStringLiteral("Описание \"%1\"").arg(i));
    std::printf("create %d recipes: %.2f ms per recipe\n", recipes, timer.nsecsElapsed() / 1e6 / recipes);

    QList<qint64> listing;
    for (int run = 0; run < 20; ++run) {
        timer.restart();
        ReceiptStore::receiptNames();
        listing.append(timer.nsecsElapsed());
    }
    std::printf("list %d recipes: median %.2f ms\n", recipes, medianMs(listing));

    QList<qint64> reading;
    for (int i = 0; i < 200; ++i) {
        timer.restart();
        ReceiptStore::readDescription(name(i * 5), QString());
        reading.append(timer.nsecsElapsed());
    }
    std::printf("read one description (open, select, close): median %.3f ms\n", medianMs(reading));

    ReceiptDialog manager;
    manager.show();
    if (!QTest::qWaitForWindowExposed(&manager))
        return 1;
    QList<qint64> refresh;
    for (int run = 0; run < 10; ++run) {
        timer.restart();
        manager.refreshReceipts(name(recipes / 2));
        refresh.append(timer.nsecsElapsed());
    }
    std::printf(
        "open the manager on %d recipes (list, sort, select, read): median %.1f ms\n", recipes, medianMs(refresh));

    QTest::qWait(200);
    std::printf("idle manager: %.2f ms CPU per second\n", cpuPerSecond(2000));

    auto *down = manager.findChild<QPushButton *>(QStringLiteral("downButton"));
    manager.refreshReceipts(QString());
    QTest::mousePress(down, Qt::LeftButton);
    const double holding = cpuPerSecond(2000);
    QTest::mouseRelease(down, Qt::LeftButton);
    std::printf("list button held (a step each 100 ms): %.2f ms CPU per second\n", holding);

    QStringList lines;
    for (int i = 0; i < 400; ++i)
        lines.append(QStringLiteral("строка %1").arg(i));
    auto *description = manager.findChild<QTextEdit *>(QStringLiteral("descriptionTextEdit"));
    description->setPlainText(lines.join(QLatin1Char('\n')));
    QTest::qWait(100);
    auto *descriptionDown = manager.findChild<QPushButton *>(QStringLiteral("downDescrButton"));
    QTest::mousePress(descriptionDown, Qt::LeftButton);
    const double scrolling = cpuPerSecond(2000);
    QTest::mouseRelease(descriptionDown, Qt::LeftButton);
    std::printf("description button held (a pixel each 5 ms): %.2f ms CPU per second\n", scrolling);
    return 0;
}
