#pragma once

#include <QtGlobal>

/// The batch's account of one doser against the doser's own witness: its lifetime weight counter, which
/// grows by every dose it has weighed, and the weight in its hopper. Everything is in the doser's units (its
/// last decimal place), so that the station's figures and the doser's agree to the last digit.
///
/// With the counter C and the hopper H as recorded with the last counted figures, the product that has
/// left the hopper since then is (C now - C) + (H - H now): what was weighed in, less what still waits.
class DoseLedger
{
public:
    /// The doser's counter and hopper as they stand with the recorded figures. The hopper is an account,
    /// not a reading: each discharge the station has taken into its figures is taken off it.
    struct Witness
    {
        quint32 counter = 0;
        qint64 hopper = 0;
    };

    enum class Outcome {
        Settled, ///< nothing or a plausible weight left the hopper unreported
        CounterWentBack, ///< a reset or replaced doser: nothing can be told
        LessThanCounted, ///< the doser shows less than the station counted (a fill cut short and discharged)
        MoreThanPossible, ///< more than the batch could have filled: a counter that was set anew
    };

    struct Settlement
    {
        Outcome outcome = Outcome::Settled;
        qint64 unreported = 0; ///< units to add to the batch; 0 unless Settled
    };

    /// What left the hopper between @p record and the doser's @p counter and @p hopper now. At most
    /// @p limit units can have left (what the batch still had to do plus one dose left in the hopper).
    static Settlement settle(const Witness &record, quint32 counter, qint64 hopper, qint64 limit);

    /// The record once a discharge of @p units has been taken into the figures (counted or not).
    static Witness afterDischarge(const Witness &record, qint64 units);

    static qint64 toUnits(double weight, int decimals);
    static double toWeight(qint64 units, int decimals);
};
