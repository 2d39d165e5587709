#pragma once

#include "ui_rs232settings.h"

#include <QDialog>
#include <QList>
#include <QString>

/// The serial settings dialog: the ports the main window found openable and the three line speeds.
/// It opens nothing itself; each change of the chosen port or speed is announced at once, and nothing is
/// kept between runs (the first listed port and 38400 bit/s at every start).
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
    QString getCurrentCOMPort() const;
    QString getCurrentCOMPortRate() const;
};
