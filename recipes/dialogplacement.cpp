#include "dialogplacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace DialogPlacement {

void centreOnScreen(QWidget *dialog, const QRect &over)
{
    // A created window knows its frame where the platform tells it before the window is mapped.
    dialog->winId();
    QRect placed(QPoint(), dialog->frameGeometry().size());
    placed.moveCenter(over.center());
    const QScreen *screen = QGuiApplication::screenAt(over.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect available = screen->availableGeometry();
        // The right and bottom edges first, so that a dialog larger than the screen keeps its title bar and
        // its left side in view.
        placed.moveLeft(std::max(std::min(placed.left(), available.right() + 1 - placed.width()), available.left()));
        placed.moveTop(std::max(std::min(placed.top(), available.bottom() + 1 - placed.height()), available.top()));
    }
    dialog->move(placed.topLeft());
}

} // namespace DialogPlacement
