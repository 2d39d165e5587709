#pragma once

#include <QString>

// What the files of the main window share about its panel: the codes by which its widgets are found
// (accessible name "1" followed by the code) and the state texts shown for the doser.
namespace PanelCodes {

inline constexpr int TargetWeightCode = 1;
inline constexpr int FaultPlusCode = 2;
inline constexpr int FaultMinusCode = 3;
inline constexpr int HopperWeightCode = 4;
inline constexpr int DoneWeightCode = 5;
inline constexpr int StateCode = 6;
inline constexpr int UnitCode = 7;
inline constexpr int DoseWeightCode = 10;
inline constexpr int DoseCountCode = 11;
inline constexpr int TotalWeightCode = 13;
inline constexpr int TotalCommonDoseCountCode = 14;
inline constexpr int TotalCommonWeightCode = 15;

inline const QString NoConnection = QStringLiteral("НЕТ СВЯЗИ");
inline const QString Fault = QStringLiteral("АВАРИЯ");
inline const QString Working = QStringLiteral("РАБОТА");
inline const QString Stopped = QStringLiteral("ОСТАНОВ");

} // namespace PanelCodes
