#pragma once

#include <QString>

/// The size of the whole interface on the plant's panel, set once by the plant engineer: the settings key
/// "uiScale" (organisation "KESTU", application "D415_Test") or the option --scale, each a percentage
/// ("125") or "fit" (the widest window, the full-size keyboard, fills the screen's width). Qt's own
/// high-DPI scaling does the work, so text, icons and touch targets grow together and stay sharp; 100 %
/// is the designed look.
class PanelScale
{
public:
    /// The widest window of the program (the full-size keyboard), in designed pixels: "fit" makes it
    /// fill the screen's width, so that no window is ever cut.
    static constexpr int FitWidth = 962;
    static constexpr double Smallest = 0.5;
    static constexpr double Largest = 4.0;

    /// The scale asked for: the option --scale=VALUE (or --scale VALUE) before the setting "uiScale";
    /// empty when neither is given.
    static QString requested(int argc, char *argv[]);
    /// The factor of a percentage, or 0 for a text that is none (or out of range).
    static double factorOf(const QString &percent);
    /// The factor that makes FitWidth fill @p screenWidth (both in the platform's logical pixels), in
    /// steps of 1 %.
    static double fitFactor(int screenWidth);

    /// Sets QT_SCALE_FACTOR for the application object about to be made. Must run before it exists: Qt
    /// reads the factor once, when it creates its platform. For "fit" a short-lived platform connection
    /// measures the screen first. Writes what it did to standard error.
    static void applyBeforeApplication(int argc, char *argv[]);
};
