#pragma once

#include <QString>
#include <QStringList>

/// The simulator's command line. Every doser value and fault option is turned into the control command
/// that does the same, so that the options and the control channel share one meaning.
class SimOptions
{
public:
    /// Parses @p arguments (argv as a list). False with error() set when they are wrong; helpRequested()
    /// tells when the caller should print helpText() and end.
    bool parse(const QStringList &arguments);

    QString linkName() const { return m_linkName; }
    /// Control commands to carry out before the line opens, in order.
    QStringList startCommands() const { return m_startCommands; }
    bool controlFromStdin() const { return m_controlFromStdin; }
    /// End when standard input ends.
    bool exitOnEndOfInput() const { return m_exitOnEndOfInput; }
    bool helpRequested() const { return m_helpRequested; }
    /// The caller should print its name and version and end.
    bool versionRequested() const { return m_versionRequested; }
    QString error() const { return m_error; }

    static QString helpText();

private:
    QString m_linkName = QStringLiteral("d415");
    QStringList m_startCommands;
    bool m_controlFromStdin = true;
    bool m_exitOnEndOfInput = false;
    bool m_helpRequested = false;
    bool m_versionRequested = false;
    QString m_error;
};
