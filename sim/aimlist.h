#pragma once

#include "faultplan.h"

#include <QList>
#include <QString>
#include <QStringList>

/// Faults aimed at one request: "the 3rd discharge", "the 12th request of any kind". Each aim counts
/// the requests of its kind from the moment it is given and fires once, on the N-th; several aims may
/// wait at once, each with its own count.
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

        /// "N KIND FAULT [MS]", the way the aim is given and logged.
        QString text() const;
    };

    /// Reads "N KIND FAULT [MS]" from @p words and adds the aim; false with @p error explaining.
    bool add(const QStringList &words, QString *error);
    /// Counts one request; returns the aims it fires, in the order they were given, and forgets them.
    QList<Aim> count(int command, int parameter);
    void clear() { m_aims.clear(); }
    /// "aims: none" or "aims: 3 discharge hangup 500 (1 seen), ...".
    QString describe() const;

private:
    static bool parseKind(const QString &text, Aim *aim, QString *error);

    QList<Aim> m_aims;
};
