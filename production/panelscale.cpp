#include "panelscale.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

const char OptionPrefix[] = "--scale=";

// The screen's width as the platform reports it, through a platform connection of its own that is closed
// again before the real application object is made.
int measureScreenWidth(int argc, char *argv[])
{
    int count = argc;
    QGuiApplication probe(count, argv);
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry().width() : 0;
}

} // namespace

QString PanelScale::requested(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], OptionPrefix, sizeof OptionPrefix - 1) == 0)
            return QString::fromLocal8Bit(argv[i] + sizeof OptionPrefix - 1).trimmed();
        if (std::strcmp(argv[i], "--scale") == 0 && i + 1 < argc)
            return QString::fromLocal8Bit(argv[i + 1]).trimmed();
    }
    const QSettings settings(QStringLiteral("KESTU"), QStringLiteral("D415_Test"));
    return settings.value(QStringLiteral("uiScale")).toString().trimmed();
}

double PanelScale::factorOf(const QString &percent)
{
    QString number = percent;
    if (number.endsWith(QLatin1Char('%')))
        number.chop(1);
    bool ok = false;
    const double factor = number.trimmed().toDouble(&ok) / 100.0;
    if (!ok || factor < Smallest || factor > Largest)
        return 0;
    return factor;
}

double PanelScale::fitFactor(int screenWidth)
{
    if (screenWidth <= 0)
        return 1.0;
    // Rounded down: a window one pixel too wide would lose its edge.
    const double factor = std::floor(100.0 * screenWidth / FitWidth) / 100.0;
    return std::clamp(factor, Smallest, Largest);
}

void PanelScale::applyBeforeApplication(int argc, char *argv[])
{
    const QString wanted = requested(argc, argv);
    if (wanted.isEmpty())
        return;
    double factor = 0;
    if (wanted.compare(QLatin1String("fit"), Qt::CaseInsensitive) == 0) {
        // Measured without any factor: the one to set is computed from the platform's own pixels.
        qunsetenv("QT_SCALE_FACTOR");
        const int width = measureScreenWidth(argc, argv);
        factor = fitFactor(width);
        std::fprintf(stderr, "Interface scale fit: screen %d px wide, %d %%\n", width, int(std::lround(factor * 100)));
    } else {
        factor = factorOf(wanted);
        if (factor == 0) {
            std::fprintf(stderr, "Interface scale \"%s\" is no percentage from %d to %d or \"fit\", 100 %% is used\n",
                qPrintable(wanted), int(Smallest * 100), int(Largest * 100));
            return;
        }
        std::fprintf(stderr, "Interface scale %d %%\n", int(std::lround(factor * 100)));
    }
    qputenv("QT_SCALE_FACTOR", QByteArray::number(factor, 'f', 2));
}
