#pragma once

#include <QRect>

class QWidget;

// Where the recipe dialogs open: over the middle of the window they are opened from, yet whole on the
// screen, since a touch panel has no other way to reach a dialog's buttons.
namespace DialogPlacement {

/// Moves @p dialog so that it is centred over @p over, shifted as little as needed to keep it, frame
/// included, inside the available area of the screen that shows the middle of @p over.
void centreOnScreen(QWidget *dialog, const QRect &over);

} // namespace DialogPlacement
