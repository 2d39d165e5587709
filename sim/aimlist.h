#pragma once

#include "faultplan.h"

#include <QList>
#include <QString>
#include <QStringList>

/// Faults aimed at one request: "the 3rd discharge", "the 12th request of any kind". Each aim counts
/// the requests of its kind from the moment it is given, or from the first request of a start kind
/// ("from 24/20": a harness that cannot tell how many polls come before a batch counts from the batch's
/// first request), and fires once, on the N-th; several aims may wait at once, each with its own count.
class AimList
{
public:
    /// A pending aim, and once it fires, what it fired on.
    struct Aim
    {
        int nth = 1;
        QString kindName; ///< as given: "any", "20", "24/20", "discharge", ...
        int command = -1; ///< -1: any request
        int parameter = -1; ///< -1: any parameter of the command
        FaultPlan::Fault fault;
        int seen = 0; ///< requests of its kind counted so far
        QString fromName; ///< the start kind as given; empty: counted from the aim
        int fromCommand = -1;
        int fromParameter = -1;
        bool started = true; ///< the start kind has been seen (or there is none)

        /// "N KIND FAULT [MS] [from KIND]", the way the aim is given and logged.
        QString text() const;
    };

    /// Reads "N KIND FAULT [MS] [from KIND]" from @p words and adds the aim; false with @p error explaining.
    bool add(const QStringList &words, QString *error);
    /// Counts one request; returns the aims it fires, in the order they were given, and forgets them.
    QList<Aim> count(int command, int parameter);
    void clear() { m_aims.clear(); }
    /// "aims: none" or "aims: 3 discharge hangup 500 (1 seen), ...".
    QString describe() const;

private:
    static bool parseKind(const QString &text, QString *name, int *command, int *parameter, QString *error);
    static bool matches(int wantedCommand, int wantedParameter, int command, int parameter);

    QList<Aim> m_aims;
};
