#pragma once

#include <QString>
#include <QtGlobal>

/// The D415's state byte and error numbers as the workstation reads them: the state word shown on the
/// doser panel and the operator's message for each error number.
namespace D415States {

/// Bits of a reply's stateFlags that the workstation looks at; the others are the doser's own business.
enum StateBit : quint8 {
    FaultBit = 0x80, ///< errorCode holds the error number
    WorkingBit = 0x02, ///< the doser is running a job
    EmptyHopperBit = 0x10, ///< read only while stopped: set when the next job is a fill, clear when a discharge
};

/// "АВАРИЯ" when the fault bit is set, else "РАБОТА" when the working bit is set, else "ОСТАНОВ".
QString stateWord(quint8 stateFlags);

/// What an error number means for the work in progress.
enum class ErrorClass {
    StopOnly, ///< error 0: stop without a message (also every failed exchange)
    StopWithMessage, ///< a known error: tell the operator, then stop
    Ignored, ///< 6, 7 and above 18: numbers the workstation does not act on
};

ErrorClass errorClass(quint8 errorCode);

/// The operator's message for an error of class StopWithMessage; empty for every other number.
QString errorMessage(quint8 errorCode);

} // namespace D415States
