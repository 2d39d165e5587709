#include "receiptbutton.h"
#include "ui_receiptbutton.h"

#include "dialogplacement.h"
#include "receiptdialog.h"
#include "receipttiming.h"
#include "recipeslog.h"
#include "savereceiptdialog.h"

#include <cstdio>

ReceiptButton::ReceiptButton(QWidget *parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::receiptButtonForm>())
{
    m_ui->setupUi(this);
    m_manager = std::make_unique<ReceiptDialog>();
    makeConnections();
}

ReceiptButton::~ReceiptButton()
{
    std::fputs("~ReceiptButton()\n", stderr);
}

void ReceiptButton::makeConnections()
{
    ReceiptDialog *manager = m_manager.get();
    SaveReceiptDialog *saveDialog = manager->saveReceiptDialog();
    connectChecked(manager, SIGNAL(receiptLoaded(QString)), this, SLOT(setReceiptName(QString)));
    connectChecked(manager, SIGNAL(receiptRewrited(QString)), this, SLOT(setReceiptName(QString)));
    connectChecked(
        manager, SIGNAL(receiptRenamed(QString, QString)), this, SLOT(setReceiptNameAfterRenamed(QString, QString)));
    connectChecked(saveDialog, SIGNAL(receiptSaved(QString)), this, SLOT(setReceiptName(QString)));
    connectChecked(saveDialog, SIGNAL(receiptCanBeSaved(QString)), this, SIGNAL(receiptCanBeSaved(QString)));
    connectChecked(manager, SIGNAL(receiptCanBeRewrited(QString)), this, SIGNAL(receiptCanBeRewrited(QString)));
    connectChecked(manager, SIGNAL(receiptCanBeLoaded(QString)), this, SIGNAL(receiptCanBeLoaded(QString)));
    connectChecked(manager->closeButton(), SIGNAL(clicked()), this, SIGNAL(receiptDialogClosed()));
    connectChecked(manager->createReceiptButton(), SIGNAL(clicked()), this, SIGNAL(createReceiptButtonClicked()));
    connectChecked(m_ui->receiptEditorButton, SIGNAL(clicked()), this, SIGNAL(receiptDialogOpened()));
}

uint ReceiptButton::repeatdelay() const
{
    return ReceiptTiming::repeatdelay;
}

void ReceiptButton::setRepeatdelay(uint milliseconds)
{
    ReceiptTiming::repeatdelay = milliseconds;
}

uint ReceiptButton::repeatspeed() const
{
    return ReceiptTiming::repeatspeed;
}

void ReceiptButton::setRepeatspeed(uint milliseconds)
{
    ReceiptTiming::repeatspeed = milliseconds;
}

uint ReceiptButton::descriptionrepeatspeed() const
{
    return ReceiptTiming::descriptionrepeatspeed;
}

void ReceiptButton::setDescriptionrepeatspeed(uint milliseconds)
{
    ReceiptTiming::descriptionrepeatspeed = milliseconds;
}

void ReceiptButton::closeAllForms()
{
    m_manager->saveReceiptDialog()->hide();
    m_manager->hide();
}

void ReceiptButton::showReceiptDialog()
{
    // Dialogs open over the middle of the window that hosts the button, kept whole on the screen.
    const QWidget *host = window();
    if (host->isVisible())
        DialogPlacement::centreOnScreen(m_manager.get(), host->geometry());
    m_manager->show();
    m_manager->refreshReceipts(m_receiptName);
}

void ReceiptButton::showCreateReceiptDialog()
{
    m_manager->showCreateReceiptDialog();
}

void ReceiptButton::enableOrDisableReceiptsManageButtons(bool enable)
{
    // Restrictions are lifted with enableChangeLoadReceiptButtons() only.
    if (!enable)
        m_manager->desableChangeLoadReceiptButtons();
}

void ReceiptButton::enableChangeLoadReceiptButtons()
{
    m_manager->enableChangeLoadReceiptButtons();
}

void ReceiptButton::desableChangeLoadReceiptButtons()
{
    m_manager->desableChangeLoadReceiptButtons();
}

void ReceiptButton::desableLoadReceiptButton()
{
    m_manager->desableLoadReceiptButton();
}

void ReceiptButton::receiptWasSaved()
{
    m_manager->saveReceiptDialog()->receiptWasSaved();
}

void ReceiptButton::receiptWasNotSaved()
{
    m_manager->saveReceiptDialog()->receiptWasNotSaved();
}

void ReceiptButton::receiptWasRewrited()
{
    m_manager->receiptWasRewrited();
}

void ReceiptButton::receiptWasNotRewrited()
{
    m_manager->receiptWasNotRewrited();
}

void ReceiptButton::receiptWasLoaded()
{
    m_manager->receiptWasLoaded();
}

void ReceiptButton::receiptWasNotLoaded()
{
    m_manager->receiptWasNotLoaded();
}

void ReceiptButton::setReceiptName(QString name)
{
    showReceiptName(name);
}

void ReceiptButton::setReceiptNameAfterRenamed(QString oldName, QString newName)
{
    if (m_receiptName == oldName)
        showReceiptName(newName);
}

// A button takes "&" as the mark of a shortcut letter; a recipe name may hold one and is shown as typed.
void ReceiptButton::showReceiptName(const QString &name)
{
    m_receiptName = name;
    m_ui->receiptEditorButton->setText(QString(name).replace(u'&', QStringLiteral("&&")));
}
