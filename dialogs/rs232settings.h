#pragma once

#include "refusedport.h"
#include "ui_rs232settings.h"

#include <QDialog>
#include <QList>
#include <QString>

/// The serial settings dialog: the ports the main window found openable and the three line speeds.
/// It opens nothing itself; each change of the chosen port or speed is announced at once, and so is a
/// choice of the port already current (the operator's way to have a port opened again); nothing is kept
/// between runs (the first listed port and 38400 bit/s at every start).
class rs232Settings : public QDialog, private Ui::rs232SettingsForm
{
    Q_OBJECT
public:
    explicit rs232Settings(QWidget *parent = nullptr);
    ~rs232Settings() override;

signals:
    void comPortChanged(const QString &portName);
    void rateChanged(const QString &rate);

public slots:
    void addComPorts(const QList<QString> &ports);
    /// Replaces the port list with @p ports without announcing anything; the current port stays current
    /// and listed even when @p ports lacks it (the port open here cannot be opened a second time). The
    /// @p refused devices follow, each with its reason ("ttyUSB0 (нет доступа: группа dialout)"); one
    /// can be chosen (it is tried like any port) but never becomes current by itself.
    void refreshComPorts(const QList<QString> &ports, const QList<RefusedPort> &refused = {});
    /// The chosen port's name as it is opened, without any reason shown beside it.
    QString getCurrentCOMPort() const;
    QString getCurrentCOMPortRate() const;
    /// Keeps the port and the speed from being changed (an open batch is dosed over this line).
    void lockLineChoice(bool locked);

private:
    void announcePortChange();
    void addPort(const QString &text, const QString &name);
    void announceChosenPort();

    // Set while a change of the current port is being announced: the choice that made it is not
    // announced a second time.
    bool m_portChangeAnnounced = false;
};
