#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

/// The simulator's end of the serial line: a pseudo-terminal whose other end is linked into the
/// working directory as ports/NAME, where the workstation finds its ports. The link exists exactly as
/// long as the line is open.
class PtyLine : public QObject
{
    Q_OBJECT
public:
    /// @p linkPath: where the link goes, for example "ports/d415".
    explicit PtyLine(const QString &linkPath, QObject *parent = nullptr);
    ~PtyLine() override;

    /// Makes a new pseudo-terminal (raw, 8N1) and links it; false with @p error explaining.
    bool open(QString *error);
    /// Closes the line as a pulled cable would: the workstation's end sees it drop. Removes the link.
    void drop();
    bool isOpen() const { return m_master >= 0; }

    /// Writes @p bytes towards the workstation; false when the line is closed or the write failed.
    bool write(const QByteArray &bytes);

    QString linkPath() const { return m_linkPath; }
    /// The terminal the link points to, for example /dev/pts/3.
    QString devicePath() const { return m_devicePath; }

signals:
    void received(const QByteArray &bytes);
    /// Reading from the line failed; it stays open but nothing more is read from it.
    void failed(const QString &reason);

private slots:
    void readAvailable();

private:
    bool placeLink(QString *error);
    void removeLink();
    void closeDescriptors();

    QString m_linkPath;
    QString m_devicePath;
    int m_master = -1;
    // Held open so that the master never sees a hang-up while the workstation has its end closed.
    int m_slave = -1;
    QSocketNotifier *m_notifier = nullptr;
};
