#include "savereceiptdialog.h"
#include "ui_savereceiptdialog.h"

#include "descriptionscroller.h"
#include "receiptmessages.h"
#include "receiptstore.h"
#include "recipeslog.h"

#include <QMessageBox>

#include <cstdio>

SaveReceiptDialog::SaveReceiptDialog(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , m_ui(std::make_unique<Ui::saveReceiptDialogForm>())
{
    m_ui->setupUi(this);
    setFixedSize(size());
    setModal(true);
    setContextMenuPolicy(Qt::NoContextMenu);
    setAttribute(Qt::WA_DeleteOnClose, false);
    m_ui->descriptionTextEdit->setPlainText(TextEditEmbedded::emptyDescriptionText());
    createWarningBox();
    m_descriptionScroller
        = new DescriptionScroller(m_ui->descriptionTextEdit, m_ui->upDescrButton, m_ui->downDescrButton, this);
    makeConnections();
}

SaveReceiptDialog::~SaveReceiptDialog()
{
    std::fputs("~SaveReceiptDialog()\n", stderr);
}

void SaveReceiptDialog::createWarningBox()
{
    m_warningBox = new QMessageBox(this);
    m_warningBox->setIcon(QMessageBox::Warning);
    m_warningBox->setTextFormat(Qt::RichText);
    m_warningBox->setFont(font());
    m_warningBox->addButton(QStringLiteral("Ok"), QMessageBox::YesRole);
}

void SaveReceiptDialog::makeConnections()
{
    connectChecked(m_ui->cancelButton, SIGNAL(clicked()), this, SLOT(cancelCreation()));
    connectChecked(m_ui->saveButton, SIGNAL(clicked()), this, SLOT(saveReceipt()));
    connectChecked(m_ui->receiptNamelineEdit, SIGNAL(textEdited(const QString &)), this, SLOT(setReceiptname(QString)));
}

void SaveReceiptDialog::setReceiptname(QString name)
{
    m_ui->receiptNamelineEdit->setText(name);
}

void SaveReceiptDialog::warn(const QString &text)
{
    m_warningBox->setWindowTitle(QStringLiteral("Рецепт"));
    m_warningBox->setText(text);
    m_warningBox->exec();
}

void SaveReceiptDialog::saveReceipt()
{
    m_pendingName = m_ui->receiptNamelineEdit->text();
    if (m_pendingName.isEmpty()) {
        warn(ReceiptMessages::emptyName());
        return;
    }
    if (ReceiptStore::fileExists(m_pendingName)) {
        warn(ReceiptMessages::nameExists(m_pendingName));
        return;
    }
    if (ReceiptStore::hasForbiddenCharacter(m_pendingName)) {
        warn(ReceiptMessages::forbiddenCharacters());
        return;
    }
    // A recipe whose file could not be made is not announced: the host would be asked to write into
    // nothing, and the manager and the recipe button would then show a recipe that does not exist.
    if (!ReceiptStore::createReceipt(m_pendingName, m_ui->descriptionTextEdit->toPlainText())) {
        warn(ReceiptMessages::notCreated(m_pendingName));
        return;
    }
    // Only the host's answer, receiptWasSaved(), releases the dialog.
    m_ui->saveButton->setEnabled(false);
    m_ui->cancelButton->setEnabled(false);
    emit receiptCanBeSaved(ReceiptStore::fullPath(m_pendingName));
}

void SaveReceiptDialog::receiptWasSaved()
{
    m_ui->saveButton->setEnabled(true);
    m_ui->cancelButton->setEnabled(true);
    emit receiptSaved(m_pendingName);
    resetForm();
    hide();
}

void SaveReceiptDialog::receiptWasNotSaved()
{
    m_ui->saveButton->setEnabled(true);
    m_ui->cancelButton->setEnabled(true);
}

void SaveReceiptDialog::cancelCreation()
{
    resetForm();
    hide();
}

void SaveReceiptDialog::resetForm()
{
    m_ui->receiptNamelineEdit->clear();
    m_ui->descriptionTextEdit->setPlainText(TextEditEmbedded::emptyDescriptionText());
}

void SaveReceiptDialog::hideEvent(QHideEvent *event)
{
    m_descriptionScroller->released();
    QDialog::hideEvent(event);
}
