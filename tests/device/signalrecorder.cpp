#include "signalrecorder.h"

#include <QMetaMethod>

SignalRecorder::SignalRecorder(QObject *source)
{
    const QMetaObject *meta = source->metaObject();
    const int recordSlot = metaObject()->indexOfSlot("record()");
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (method.methodType() != QMetaMethod::Signal)
            continue;
        // The spy is connected first, so it holds the arguments by the time record() runs.
        m_spies[i] = std::make_unique<QSignalSpy>(source, method);
        QMetaObject::connect(source, i, this, recordSlot, Qt::DirectConnection);
    }
}

QStringList SignalRecorder::entriesOf(const QString &name) const
{
    QStringList found;
    for (const QString &entry : m_entries) {
        if (entry.section(QLatin1Char(' '), 0, 0) == name)
            found << entry;
    }
    return found;
}

void SignalRecorder::record()
{
    const int index = senderSignalIndex();
    const auto spy = m_spies.find(index);
    if (spy == m_spies.end())
        return;
    const QString name = QString::fromLatin1(sender()->metaObject()->method(index).name());
    if (m_ignored.contains(name))
        return;
    QStringList parts {name};
    for (const QVariant &argument : spy->second->last()) {
        // A quint8 would print as a character.
        if (argument.typeId() == QMetaType::UChar)
            parts << QString::number(argument.value<quint8>());
        else
            parts << argument.toString();
    }
    m_entries << parts.join(QLatin1Char(' '));
}
