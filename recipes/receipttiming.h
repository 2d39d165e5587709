#pragma once

// Press-and-hold timing of the recipe dialogs, shared by every recipe button and dialog of the process:
// a host tunes them once through the recipe button's properties and both dialogs read them at each use.
namespace ReceiptTiming {
/// Milliseconds a list button of the recipe manager must be held before it repeats.
inline unsigned repeatdelay = 300;
/// Milliseconds between repeated list steps.
inline unsigned repeatspeed = 100;
/// Milliseconds between description scroll steps; one step is one pixel, so 5 ms gives a smooth glide.
inline unsigned descriptionrepeatspeed = 5;
} // namespace ReceiptTiming
