#pragma once

#include <QObject>
#include <QSignalSpy>
#include <QStringList>

#include <map>
#include <memory>

/// Records, in the order they are emitted, every signal that the class of @p source declares itself
/// (not those of its bases), as "name arg arg ...".
class SignalRecorder : public QObject
{
    Q_OBJECT
public:
    explicit SignalRecorder(QObject *source);

    QStringList entries() const { return m_entries; }
    void clear() { m_entries.clear(); }
    /// Leaves the signal @p name out of the record from now on.
    void ignore(const QString &name) { m_ignored << name; }
    /// Entries whose signal name is @p name.
    QStringList entriesOf(const QString &name) const;

private slots:
    void record();

private:
    std::map<int, std::unique_ptr<QSignalSpy>> m_spies;
    QStringList m_entries;
    QStringList m_ignored;
};
