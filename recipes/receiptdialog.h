#pragma once

#include "descriptionscroller.h"
#include "receipttiming.h"

#include <QDialog>
#include <QTimer>

#include <memory>

class QListWidgetItem;
class QMessageBox;
class QPushButton;
class SaveReceiptDialog;

namespace Ui {
class receiptDialogForm;
}

/// The recipe manager: browses the recipes of the store, renames, describes and deletes them, and hands
/// a recipe's file to the host for loading or rewriting, waiting for the host's answer on its slots.
/// Built for a touch panel: no scroll bars, but up and down buttons that repeat while held.
class ReceiptDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ReceiptDialog(QWidget *parent = nullptr);
    ~ReceiptDialog() override;

    /// Fills the list from the store and selects currentName, or the first recipe when it is empty.
    void refreshReceipts(const QString &currentName);
    SaveReceiptDialog *saveReceiptDialog() const { return m_saveDialog.get(); }
    QPushButton *closeButton() const;
    QPushButton *createReceiptButton() const;

signals:
    void receiptCanBeRewrited(QString path);
    void receiptCanBeLoaded(QString path);
    void receiptLoaded(QString name);
    void receiptRewrited(QString name);
    void receiptRenamed(QString oldName, QString newName);

public slots:
    void receiptWasRewrited();
    void receiptWasNotRewrited();
    void receiptWasLoaded();
    void receiptWasNotLoaded();
    void enableChangeLoadReceiptButtons();
    void desableLoadReceiptButton();
    void desableChangeLoadReceiptButtons();
    void showCreateReceiptDialog();
    void createReceiptsStoreDir();

private slots:
    void renameReceipt(QString newName);
    void saveReceiptDescription(QString description);
    void itemSelectionChangedAction();
    void setUpDownButtonsState();
    void deleteReceipt();
    void loadReceipt();
    void rewriteReceipt();
    void enableScrollButtons(int minimum, int maximum);
    void upButtonPressed();
    void upButtonReleased();
    void downButtonPressed();
    void downButtonReleased();
    void addNewReceipt(QString name);
    void closeWindow();

protected:
    void hideEvent(QHideEvent *event) override;

private:
    void createMessageBoxes();
    void makeConnections();
    void clearView();
    bool ask(const QString &title, const QString &text);
    void warn(const QString &title, const QString &text);
    void attachSelectionHandler();
    void detachSelectionHandler();
    void startListHold(bool up);
    void endListHold(bool up);
    void holdDelayPassed();
    void repeatListStep();
    void endListScrolling();
    void listStepUp();
    void listStepDown();
    void handOver(const QString &title, const QString &question, bool load);
    void setWaitingForHost(bool waiting);
    int rowOf(const QString &name) const;

    std::unique_ptr<Ui::receiptDialogForm> m_ui;
    std::unique_ptr<SaveReceiptDialog> m_saveDialog;
    QMessageBox *m_questionBox = nullptr;
    QPushButton *m_yesButton = nullptr;
    QMessageBox *m_warningBox = nullptr;
    QPushButton *m_okButton = nullptr;
    DescriptionScroller *m_descriptionScroller = nullptr;
    QTimer m_holdTimer;
    QTimer m_listStepTimer;
    bool m_listScrollable = false;
    bool m_loadAllowed = true;
    bool m_rewriteAllowed = true;
    bool m_scrolling = false;
    bool m_singleStepPending = false;
    bool m_scrollingUp = false;
    const unsigned &m_holdDelay = ReceiptTiming::repeatdelay;
    const unsigned &m_listStepInterval = ReceiptTiming::repeatspeed;
    QString m_currentReceiptName;
};
