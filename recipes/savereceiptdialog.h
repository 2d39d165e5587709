#pragma once

#include <QDialog>

#include <memory>

class DescriptionScroller;
class QMessageBox;

namespace Ui {
class saveReceiptDialogForm;
}

/// Creates a recipe: checks the typed name, creates the recipe file with its description and asks the
/// host to write the doser's working parameters into it; stays open until the host has answered.
class SaveReceiptDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SaveReceiptDialog(QWidget *parent = nullptr);
    ~SaveReceiptDialog() override;

signals:
    void receiptCanBeSaved(QString path);
    void receiptSaved(QString name);

public slots:
    void receiptWasSaved();
    /// The host could not write its parameters (and removed the file): the dialog is released with the
    /// name and description kept, so the operator can try again or cancel.
    void receiptWasNotSaved();

private slots:
    void saveReceipt();
    void cancelCreation();
    void setReceiptname(QString name);

protected:
    void hideEvent(QHideEvent *event) override;

private:
    void createWarningBox();
    void makeConnections();
    void warn(const QString &text);
    void resetForm();

    std::unique_ptr<Ui::saveReceiptDialogForm> m_ui;
    QString m_pendingName;
    QMessageBox *m_warningBox = nullptr;
    DescriptionScroller *m_descriptionScroller = nullptr;
};
