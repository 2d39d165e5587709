#pragma once

#include "ui_d415settings.h"

#include <QDialog>
#include <QString>

#include <memory>

class QSettings;

/// The doser settings dialog: which doser address the station talks to, which product that doser doses,
/// its service values (filled in by the main window from the doser's replies) and its test mode. The
/// chosen address is the one value kept between runs ("d415Id" in the "KESTU" / "D415_Test" settings).
class d415Settings : public QDialog, private Ui::d415SettingsForm
{
    Q_OBJECT
public:
    explicit d415Settings(QWidget *parent = nullptr);
    ~d415Settings() override;

    /// The dialog always edits the main window's first doser.
    int currentDoserSlot() const { return 0; }

    void restoreDoserNumber();
    void saveDoserNumber();
    void clearFields();
    void clearInfo();
    void setWeightScale(const QString &text);
    void setWeightNPV(const QString &text);
    void setDigitScale(const QString &text);
    void setPoVersion(const QString &text);
    void selectProductType(const QString &name);
    /// Keeps the doser number and the switch to simulation mode from being changed (an open batch is dosed
    /// by this doser in its working mode); the way back to the working mode stays open.
    void lockDoserChoice(bool locked);

signals:
    void d415ProductChanged(int doserSlot, const QString &productName);
    void d415IdChanged(int doserNumber);
    void stopTestModeClicked();
    void startTestModeClicked();

public slots:
    void setErrorMessage(const QString &text);
    void addProductType(const QString &name);
    void dellAllProductTypes();
    void setStartIndex();
    void disableProductType(bool disabled);
    void productTypeChanged(const QString &name);

protected:
    void changeEvent(QEvent *event) override;

private:
    void showReadOnlyFieldsAsText();
    int storedDoserNumber() const;

    std::unique_ptr<QSettings> m_settings;
};
