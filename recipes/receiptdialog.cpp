#include "receiptdialog.h"
#include "ui_receiptdialog.h"

#include "dialogplacement.h"
#include "receiptmessages.h"
#include "receiptstore.h"
#include "recipeslog.h"
#include "savereceiptdialog.h"

#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>

#include <cstdio>

namespace {

// A list item shows the name on its own line; the name is the item's text without that line end.
QString itemText(const QString &name)
{
    return name + QLatin1Char('\n');
}

QString nameOf(const QListWidgetItem *item)
{
    return item->text().chopped(1);
}

QString quoted(const QString &name)
{
    return QLatin1Char('"') + name.toHtmlEscaped() + QLatin1Char('"');
}

} // namespace

ReceiptDialog::ReceiptDialog(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , m_ui(std::make_unique<Ui::receiptDialogForm>())
{
    m_ui->setupUi(this);
    setFixedSize(size());
    setModal(true);
    setContextMenuPolicy(Qt::NoContextMenu);
    setAttribute(Qt::WA_DeleteOnClose, false);
    createMessageBoxes();
    m_descriptionScroller
        = new DescriptionScroller(m_ui->descriptionTextEdit, m_ui->upDescrButton, m_ui->downDescrButton, this);
    // The hold delay and the steps only run while a button is held; an idle manager has no timer running.
    m_holdTimer.setSingleShot(true);
    m_holdTimer.setTimerType(Qt::PreciseTimer);
    m_listStepTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_holdTimer, &QTimer::timeout, this, &ReceiptDialog::holdDelayPassed);
    connect(&m_listStepTimer, &QTimer::timeout, this, &ReceiptDialog::repeatListStep);
    m_saveDialog = std::make_unique<SaveReceiptDialog>();
    makeConnections();
}

ReceiptDialog::~ReceiptDialog()
{
    std::fputs("~ReceiptDialog()\n", stderr);
}

QPushButton *ReceiptDialog::closeButton() const
{
    return m_ui->closeButton;
}

QPushButton *ReceiptDialog::createReceiptButton() const
{
    return m_ui->createReceiptButton;
}

void ReceiptDialog::createMessageBoxes()
{
    m_questionBox = new QMessageBox(this);
    m_questionBox->setFont(font());
    m_questionBox->setTextFormat(Qt::RichText);
    m_questionBox->setIcon(QMessageBox::Question);
    m_questionBox->setDefaultButton(m_questionBox->addButton(QStringLiteral("Нет"), QMessageBox::NoRole));
    m_yesButton = m_questionBox->addButton(QStringLiteral("Да"), QMessageBox::YesRole);

    m_warningBox = new QMessageBox(this);
    m_warningBox->setFont(font());
    m_warningBox->setTextFormat(Qt::RichText);
    m_warningBox->setIcon(QMessageBox::Warning);
    m_okButton = m_warningBox->addButton(QStringLiteral("Ok"), QMessageBox::YesRole);
}

void ReceiptDialog::makeConnections()
{
    attachSelectionHandler();
    connectChecked(m_ui->receiptListWidget->verticalScrollBar(), SIGNAL(rangeChanged(int, int)), this,
        SLOT(enableScrollButtons(int, int)));
    connectChecked(m_ui->deleteReceiptButton, SIGNAL(clicked()), this, SLOT(deleteReceipt()));
    connectChecked(m_ui->loadReceiptButton, SIGNAL(clicked()), this, SLOT(loadReceipt()));
    connectChecked(m_ui->changeReceiptButton, SIGNAL(clicked()), this, SLOT(rewriteReceipt()));
    connectChecked(m_ui->receiptNamelineEdit, SIGNAL(textEdited(const QString &)), this, SLOT(renameReceipt(QString)));
    connectChecked(
        m_ui->descriptionTextEdit, SIGNAL(descriptionChanged(QString)), this, SLOT(saveReceiptDescription(QString)));
    connectChecked(m_saveDialog.get(), SIGNAL(receiptSaved(QString)), this, SLOT(addNewReceipt(QString)));
    connectChecked(m_ui->closeButton, SIGNAL(clicked()), this, SLOT(closeWindow()));
    connectChecked(m_ui->upButton, SIGNAL(pressed()), this, SLOT(upButtonPressed()));
    connectChecked(m_ui->upButton, SIGNAL(released()), this, SLOT(upButtonReleased()));
    connectChecked(m_ui->downButton, SIGNAL(pressed()), this, SLOT(downButtonPressed()));
    connectChecked(m_ui->downButton, SIGNAL(released()), this, SLOT(downButtonReleased()));
}

void ReceiptDialog::attachSelectionHandler()
{
    connectChecked(m_ui->receiptListWidget, SIGNAL(itemSelectionChanged()), this, SLOT(itemSelectionChangedAction()),
        Qt::UniqueConnection);
}

void ReceiptDialog::detachSelectionHandler()
{
    disconnect(m_ui->receiptListWidget, SIGNAL(itemSelectionChanged()), this, SLOT(itemSelectionChangedAction()));
}

void ReceiptDialog::createReceiptsStoreDir()
{
    ReceiptStore::createStoreDir();
}

void ReceiptDialog::showCreateReceiptDialog()
{
    if (isVisible())
        DialogPlacement::centreOnScreen(m_saveDialog.get(), geometry());
    m_saveDialog->show();
}

// ---- listing and selecting ----

void ReceiptDialog::clearView()
{
    m_ui->receiptListWidget->clear();
    m_ui->receiptNamelineEdit->clear();
    m_ui->descriptionTextEdit->clear();
    m_ui->deleteReceiptButton->setEnabled(false);
    m_ui->changeReceiptButton->setEnabled(false);
    m_ui->loadReceiptButton->setEnabled(false);
    m_ui->receiptNamelineEdit->setEnabled(false);
    m_ui->descriptionTextEdit->setEnabled(false);
}

void ReceiptDialog::refreshReceipts(const QString &currentName)
{
    clearView();
    const QStringList names = ReceiptStore::receiptNames();
    for (const QString &name : names)
        m_ui->receiptListWidget->addItem(itemText(name));
    m_ui->receiptListWidget->sortItems(Qt::AscendingOrder);

    int row = 0;
    if (!currentName.isEmpty()) {
        m_ui->currentReceiptNameLabel->setText(currentName);
        row = rowOf(currentName);
        if (row < 0)
            return;
    } else if (m_ui->receiptListWidget->count() == 0) {
        return;
    }
    m_ui->descriptionTextEdit->setEnabled(true);
    m_ui->receiptListWidget->setCurrentRow(row);
}

int ReceiptDialog::rowOf(const QString &name) const
{
    for (int row = 0; row < m_ui->receiptListWidget->count(); ++row) {
        if (nameOf(m_ui->receiptListWidget->item(row)) == name)
            return row;
    }
    return -1;
}

void ReceiptDialog::itemSelectionChangedAction()
{
    const QListWidgetItem *item = m_ui->receiptListWidget->currentItem();
    if (!item)
        return;
    setUpDownButtonsState();
    const QString name = nameOf(item);
    m_ui->receiptNamelineEdit->setEnabled(true);
    m_ui->receiptNamelineEdit->setText(name);
    m_ui->descriptionTextEdit->setEnabled(true);
    m_ui->descriptionTextEdit->setPlainText(
        ReceiptStore::readDescription(name, TextEditEmbedded::emptyDescriptionText()));
    // A new text starts at its top even when its height, and so the range, is that of the previous one.
    const QScrollBar *bar = m_ui->descriptionTextEdit->verticalScrollBar();
    m_descriptionScroller->rangeChanged(bar->minimum(), bar->maximum());
    m_ui->deleteReceiptButton->setEnabled(true);
    m_ui->loadReceiptButton->setEnabled(m_loadAllowed);
    m_ui->changeReceiptButton->setEnabled(m_rewriteAllowed);
}

// ---- the list's up and down buttons ----

void ReceiptDialog::setUpDownButtonsState()
{
    if (!m_listScrollable)
        return;
    const int row = m_ui->receiptListWidget->currentRow();
    const int last = m_ui->receiptListWidget->count() - 1;
    if (row == last) {
        m_ui->upButton->setEnabled(true);
        m_ui->downButton->setEnabled(false);
    } else if (row <= 0) {
        m_ui->upButton->setEnabled(false);
        m_ui->downButton->setEnabled(true);
    } else {
        m_ui->upButton->setEnabled(true);
        m_ui->downButton->setEnabled(true);
    }
}

void ReceiptDialog::enableScrollButtons(int /*minimum*/, int maximum)
{
    if (maximum <= 0) {
        m_listScrollable = false;
        m_ui->upButton->setEnabled(false);
        m_ui->downButton->setEnabled(false);
        return;
    }
    m_listScrollable = true;
    const int row = m_ui->receiptListWidget->currentRow();
    if (row > 0)
        m_ui->upButton->setEnabled(true);
    if (row < m_ui->receiptListWidget->count() - 1)
        m_ui->downButton->setEnabled(true);
}

void ReceiptDialog::upButtonPressed()
{
    startListHold(true);
}

void ReceiptDialog::downButtonPressed()
{
    startListHold(false);
}

void ReceiptDialog::startListHold(bool up)
{
    m_scrollingUp = up;
    m_scrolling = true;
    m_singleStepPending = true;
    // Rows passed while the button is held are not read from their files; only the row reached is.
    detachSelectionHandler();
    m_holdTimer.start(int(m_holdDelay));
}

void ReceiptDialog::holdDelayPassed()
{
    m_singleStepPending = false;
    if (!m_scrollingUp) {
        m_ui->receiptNamelineEdit->setEnabled(true);
        m_ui->descriptionTextEdit->setEnabled(true);
    }
    m_ui->receiptNamelineEdit->clear();
    m_ui->descriptionTextEdit->clear();
    repeatListStep();
    if (m_scrolling)
        m_listStepTimer.start(int(m_listStepInterval));
}

void ReceiptDialog::repeatListStep()
{
    if (m_scrollingUp)
        listStepUp();
    else
        listStepDown();
}

void ReceiptDialog::endListScrolling()
{
    m_scrolling = false;
    m_holdTimer.stop();
    m_listStepTimer.stop();
}

void ReceiptDialog::listStepUp()
{
    QListWidget *list = m_ui->receiptListWidget;
    if (list->currentRow() > 0) {
        list->setCurrentRow(list->currentRow() - 1);
        if (!m_ui->downButton->isEnabled())
            m_ui->downButton->setEnabled(true);
    }
    if (list->currentRow() == 0) {
        endListScrolling();
        attachSelectionHandler();
        itemSelectionChangedAction();
        m_ui->upButton->setEnabled(false);
    }
}

void ReceiptDialog::listStepDown()
{
    QListWidget *list = m_ui->receiptListWidget;
    const int last = list->count() - 1;
    if (list->currentRow() < last) {
        list->setCurrentRow(list->currentRow() + 1);
        if (!m_ui->upButton->isEnabled())
            m_ui->upButton->setEnabled(true);
    }
    if (list->currentRow() == last) {
        endListScrolling();
        attachSelectionHandler();
        itemSelectionChangedAction();
        m_ui->downButton->setEnabled(false);
    }
}

void ReceiptDialog::upButtonReleased()
{
    endListHold(true);
}

void ReceiptDialog::downButtonReleased()
{
    endListHold(false);
}

// A tap released before the hold delay steps once, on release.
void ReceiptDialog::endListHold(bool up)
{
    endListScrolling();
    attachSelectionHandler();
    if (m_singleStepPending) {
        m_singleStepPending = false;
        if (up)
            listStepUp();
        else
            listStepDown();
    }
    itemSelectionChangedAction();
}

void ReceiptDialog::hideEvent(QHideEvent *event)
{
    // A hidden button gets no release: the list must not go on scrolling without its selection handler.
    if (m_scrolling) {
        endListScrolling();
        attachSelectionHandler();
    }
    m_descriptionScroller->released();
    QDialog::hideEvent(event);
}

// ---- message boxes ----

bool ReceiptDialog::ask(const QString &title, const QString &text)
{
    m_questionBox->setWindowTitle(title);
    m_questionBox->setText(text);
    m_questionBox->exec();
    return m_questionBox->clickedButton() == m_yesButton;
}

void ReceiptDialog::warn(const QString &title, const QString &text)
{
    m_warningBox->setWindowTitle(title);
    m_warningBox->setText(text);
    m_warningBox->exec();
}

// ---- editing the store ----

void ReceiptDialog::renameReceipt(QString newName)
{
    const QString oldName = m_ui->receiptNamelineEdit->text();
    if (newName.compare(oldName, Qt::CaseInsensitive) == 0)
        return;
    if (newName.isEmpty()) {
        warn(QStringLiteral("Рецепт"), ReceiptMessages::emptyName());
        return;
    }
    if (rowOf(newName) >= 0) {
        warn(QStringLiteral("Переименовать рецепт"), ReceiptMessages::nameExists(newName));
        return;
    }
    if (ReceiptStore::hasForbiddenCharacter(newName)) {
        warn(QStringLiteral("Рецепт"), ReceiptMessages::forbiddenCharacters());
        return;
    }
    if (!ask(QStringLiteral("Переименовать рецепт"),
            QStringLiteral("Переименовать ") + quoted(oldName) + QStringLiteral(" в ") + quoted(newName)))
        return;
    if (!ReceiptStore::renameReceipt(oldName, newName))
        return;

    emit receiptRenamed(oldName, newName);
    if (m_ui->currentReceiptNameLabel->text() == oldName)
        m_ui->currentReceiptNameLabel->setText(newName);
    const int row = rowOf(oldName);
    if (row < 0)
        return;
    QListWidgetItem *item = m_ui->receiptListWidget->item(row);
    item->setText(itemText(newName));
    m_ui->receiptListWidget->sortItems(Qt::AscendingOrder);
    m_ui->receiptNamelineEdit->setText(newName);
    m_ui->receiptListWidget->setCurrentItem(item);
}

void ReceiptDialog::saveReceiptDescription(QString description)
{
    const QString name = m_ui->receiptNamelineEdit->text();
    ReceiptStore::updateDescription(name, description);
    // The field shows what the recipe file holds: an update that did not take (the file removed behind
    // the list's back, a file without the description row) must not look stored.
    const QString stored = ReceiptStore::readDescription(name, TextEditEmbedded::emptyDescriptionText());
    if (stored != description)
        m_ui->descriptionTextEdit->setPlainText(stored);
}

void ReceiptDialog::deleteReceipt()
{
    const QString name = m_ui->receiptNamelineEdit->text();
    if (!ask(QStringLiteral("Удаление рецепта"), QStringLiteral("Удалить рецепт ") + quoted(name)))
        return;
    if (m_ui->receiptListWidget->count() == 1) {
        clearView();
    } else {
        // Taking the item out moves the current row; the selection change shows the recipe now current.
        delete m_ui->receiptListWidget->takeItem(rowOf(name));
    }
    ReceiptStore::removeReceipt(name);
}

void ReceiptDialog::addNewReceipt(QString name)
{
    auto *item = new QListWidgetItem(itemText(name));
    m_ui->receiptListWidget->addItem(item);
    m_ui->receiptListWidget->sortItems(Qt::AscendingOrder);
    m_ui->receiptNamelineEdit->setText(name);
    m_ui->receiptListWidget->setCurrentItem(item);
    closeWindow();
}

// ---- handing a recipe to the host ----

void ReceiptDialog::loadReceipt()
{
    handOver(QStringLiteral("Загрузка рецепта"), QStringLiteral("Загрузить рецепт "), true);
}

void ReceiptDialog::rewriteReceipt()
{
    handOver(QStringLiteral("Изменение рецепта"), QStringLiteral("Перезаписать рецепт "), false);
}

void ReceiptDialog::handOver(const QString &title, const QString &question, bool load)
{
    const QString name = m_ui->receiptNamelineEdit->text();
    if (!ask(title, question + quoted(name)))
        return;
    m_currentReceiptName = name;
    // Only the host's answer ends the wait.
    setWaitingForHost(true);
    if (load)
        emit receiptCanBeLoaded(ReceiptStore::fullPath(name));
    else
        emit receiptCanBeRewrited(ReceiptStore::fullPath(name));
}

void ReceiptDialog::setWaitingForHost(bool waiting)
{
    const bool enabled = !waiting;
    m_ui->createReceiptButton->setEnabled(enabled);
    m_ui->closeButton->setEnabled(enabled);
    m_ui->loadReceiptButton->setEnabled(enabled);
    m_ui->changeReceiptButton->setEnabled(enabled);
    m_ui->deleteReceiptButton->setEnabled(enabled);
    // While the host works on the file at the path it was given, no other recipe can be chosen (which
    // would enable the commands again) and this one can be neither renamed nor described: a rename
    // would send a rewrite into a new, empty file of the old name. Every answer closes the dialog, and
    // the next opening enables the fields for the recipe it selects.
    m_ui->receiptListWidget->setEnabled(enabled);
    if (waiting) {
        for (QWidget *widget : {static_cast<QWidget *>(m_ui->upButton), static_cast<QWidget *>(m_ui->downButton),
                 static_cast<QWidget *>(m_ui->receiptNamelineEdit), static_cast<QWidget *>(m_ui->descriptionTextEdit)})
            widget->setEnabled(false);
    }
}

void ReceiptDialog::receiptWasLoaded()
{
    setWaitingForHost(false);
    m_ui->currentReceiptNameLabel->setText(m_currentReceiptName);
    emit receiptLoaded(m_currentReceiptName);
    closeWindow();
}

void ReceiptDialog::receiptWasNotLoaded()
{
    setWaitingForHost(false);
    m_ui->currentReceiptNameLabel->setText(m_currentReceiptName);
    closeWindow();
}

void ReceiptDialog::receiptWasRewrited()
{
    setWaitingForHost(false);
    emit receiptRewrited(m_currentReceiptName);
    closeWindow();
}

void ReceiptDialog::receiptWasNotRewrited()
{
    setWaitingForHost(false);
    closeWindow();
}

void ReceiptDialog::closeWindow()
{
    QListWidget *list = m_ui->receiptListWidget;
    if (list->count() > 0)
        list->setCurrentRow(0); // scrolls the list back to its top for the next opening
    detachSelectionHandler();
    list->setCurrentRow(-1);
    attachSelectionHandler();
    setUpDownButtonsState();
    hide();
}

// ---- what the host may allow ----

void ReceiptDialog::enableChangeLoadReceiptButtons()
{
    m_loadAllowed = true;
    m_rewriteAllowed = true;
    if (m_ui->receiptListWidget->currentItem()) {
        m_ui->loadReceiptButton->setEnabled(true);
        m_ui->changeReceiptButton->setEnabled(true);
    }
    m_ui->createReceiptButton->setEnabled(true);
}

void ReceiptDialog::desableLoadReceiptButton()
{
    m_loadAllowed = false;
    m_ui->loadReceiptButton->setEnabled(false);
    m_ui->createReceiptButton->setEnabled(true);
}

void ReceiptDialog::desableChangeLoadReceiptButtons()
{
    m_loadAllowed = false;
    m_rewriteAllowed = false;
    m_ui->changeReceiptButton->setEnabled(false);
    m_ui->loadReceiptButton->setEnabled(false);
    m_ui->createReceiptButton->setEnabled(false);
}
