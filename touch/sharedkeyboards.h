#pragma once

#include "keyboard.h"

// The process-wide keyboards. Each kind of owner has its own set: the line edits a numeric and a full-size
// keyboard, the text edits a full-size keyboard of their own, the switch widgets their own pair. A keyboard
// is created on first need, without parent, and lives until the application object goes away.
namespace SharedKeyboards {

enum Owner { LineEdits, TextEdits, SwitchWidgets };

// The owner's keyboard of this type, created if missing; null for a type that is neither of the two.
Keyboard *keyboard(Owner owner, Keyboard::Type type);
// The owner's keyboard of this type if it exists yet, without creating it.
Keyboard *existing(Owner owner, Keyboard::Type type);

} // namespace SharedKeyboards
