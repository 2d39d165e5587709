#pragma once

#include <QWidget>

#include <memory>

class ReceiptDialog;

namespace Ui {
class receiptButtonForm;
}

/// The host's door to the recipes: a button showing the current recipe's name ("отсутствует" for
/// none). It owns the recipe manager, relays the recipe requests to the host as signals and takes the
/// host's answers on its slots. Its three properties tune press-and-hold in every recipe dialog.
class ReceiptButton : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(uint repeatdelay READ repeatdelay WRITE setRepeatdelay DESIGNABLE true SCRIPTABLE true STORED true)
    Q_PROPERTY(uint repeatspeed READ repeatspeed WRITE setRepeatspeed DESIGNABLE true SCRIPTABLE true STORED true)
    Q_PROPERTY(uint descriptionrepeatspeed READ descriptionrepeatspeed WRITE setDescriptionrepeatspeed
            DESIGNABLE true SCRIPTABLE true STORED true)
public:
    explicit ReceiptButton(QWidget *parent = nullptr);
    ~ReceiptButton() override;

    uint repeatdelay() const;
    void setRepeatdelay(uint milliseconds);
    uint repeatspeed() const;
    void setRepeatspeed(uint milliseconds);
    uint descriptionrepeatspeed() const;
    void setDescriptionrepeatspeed(uint milliseconds);

    /// The manager, for the host's one call of createReceiptsStoreDir() before the first use.
    ReceiptDialog *receiptDialog() const { return m_manager.get(); }

signals:
    void receiptCanBeSaved(QString path);
    void receiptCanBeRewrited(QString path);
    void receiptCanBeLoaded(QString path);
    void receiptDialogOpened();
    void receiptDialogClosed();
    void createReceiptButtonClicked();

public slots:
    void closeAllForms();
    void showReceiptDialog();
    void showCreateReceiptDialog();
    void enableOrDisableReceiptsManageButtons(bool enable);
    void enableChangeLoadReceiptButtons();
    void desableChangeLoadReceiptButtons();
    void desableLoadReceiptButton();
    void receiptWasSaved();
    /// The answer to receiptCanBeSaved() when the parameters could not be written: no recipe was made.
    void receiptWasNotSaved();
    void receiptWasRewrited();
    void receiptWasNotRewrited();
    void receiptWasLoaded();
    void receiptWasNotLoaded();

private slots:
    void setReceiptName(QString name);
    void setReceiptNameAfterRenamed(QString oldName, QString newName);

private:
    void makeConnections();
    void showReceiptName(const QString &name);

    std::unique_ptr<Ui::receiptButtonForm> m_ui;
    std::unique_ptr<ReceiptDialog> m_manager;
    QString m_receiptName; // the current recipe, empty for none; the button shows it as typed
};
