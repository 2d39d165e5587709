#include "product.h"

#include "sqlitestatement.h"

#include <QEvent>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidgetItem>

#include <cstdio>

Product::Product(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint)
{
    setupUi(this);
    setModal(true);
    setContextMenuPolicy(Qt::NoContextMenu);
    setAttribute(Qt::WA_DeleteOnClose, false);
    installEventFilter(this);

    // A failed open leaves no connection: the dialog still opens, with an empty table, and its
    // statements only log that there is no database.
    m_query.open(QStringLiteral("data.db"));
    createConfirmBox();
    fillTable();

    connect(closeButton, &QPushButton::clicked, this, &Product::closeClicked);
    connect(delButton, &QPushButton::clicked, this, &Product::deleteProduct);
    connect(addButton, &QPushButton::clicked, this, &Product::addProduct);
    connect(productTable, &QTableWidget::itemClicked, this, &Product::productTableClicked);
    // The panel has no keyboard of its own: a touch on the name opens the on-screen one, and "Enter" puts
    // the typed name into the field for "Добавить".
    connect(newProductName, &LineEditEmbedded::textHasEntered, newProductName, &QLineEdit::setText);
}

Product::~Product()
{
    std::fputs("~Product()\n", stderr);
    delete m_confirmBox;
    m_query.close();
}

void Product::createConfirmBox()
{
    m_confirmBox = new QMessageBox(this);
    m_confirmBox->setFont(font());
    m_confirmBox->setTextFormat(Qt::RichText);
    m_confirmBox->setIcon(QMessageBox::Question);
    // "Нет" is the default so that a stray Enter never deletes a product.
    QPushButton *noButton = m_confirmBox->addButton(QStringLiteral("Нет"), QMessageBox::NoRole);
    m_confirmBox->setDefaultButton(noButton);
    m_yesButton = m_confirmBox->addButton(QStringLiteral("Да"), QMessageBox::YesRole);
}

bool Product::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == this && event->type() == QEvent::Hide) {
        emit windowHided();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void Product::fillTable()
{
    productTable->setColumnCount(1);
    productTable->setRowCount(0);
    productTable->verticalHeader()->hide();
    productTable->setHorizontalHeaderLabels({QStringLiteral("Вид продукта")});
    productTable->resizeColumnsToContents();

    m_query.runQuery(QStringLiteral("SELECT productName, idProduct FROM product;"));
    const int rows = m_query.rows();
    const int columns = m_query.columns();
    if (rows < 1)
        return;

    productTable->setRowCount(rows);
    productTable->setColumnCount(columns);
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < columns; ++j) {
            productTable->setItem(i, j, new QTableWidgetItem(m_query.cell(i, j)));
            // The id stays in the row, out of sight, so that a delete names the stored row.
            if (j > 0)
                productTable->hideColumn(j);
        }
    }
    productTable->resizeColumnsToContents();
}

void Product::productTableClicked(QTableWidgetItem *item)
{
    if (!item)
        return;
    const QTableWidgetItem *idItem = productTable->item(item->row(), productTable->columnCount() - 1);
    if (!idItem)
        return;
    productTable->resizeColumnsToContents();
    m_selectedId = idItem->text();
}

void Product::deleteProduct()
{
    if (m_selectedId.isEmpty())
        return;
    m_confirmBox->setWindowTitle(QStringLiteral("Сообщение"));
    m_confirmBox->setText(QStringLiteral("Удалить выбранный вид продукта?"));
    m_confirmBox->exec();
    if (m_confirmBox->clickedButton() != m_yesButton)
        return;

    // The id comes from the table, which holds what the database gave; only a number may reach the
    // statement all the same.
    bool isNumber = false;
    const qlonglong id = m_selectedId.toLongLong(&isNumber);
    if (isNumber)
        deleteProductRow(id);
    m_selectedId.clear();
    fillTable();
}

void Product::deleteProductRow(qlonglong id)
{
    // Read without a log line: the statements the log shows are the catalogue's designed ones.
    SqliteStatement read(m_query.connection(), QStringLiteral("SELECT productName FROM product WHERE idProduct = ?"));
    read.bindInteger(1, id);
    const QString name = read.step() ? read.columnText(0) : QString();
    m_query.runQuery(QStringLiteral("DELETE FROM product WHERE idProduct = %1;").arg(id));
    if (m_query.returnCode() == 0 && m_query.changes() > 0)
        emit productDeleted(name);
}

void Product::addProduct()
{
    const QString name = newProductName->text();
    if (name.isEmpty())
        return;
    m_query.runQuery(QStringLiteral("INSERT INTO product (idProduct, productName) values (NULL, %1);")
                         .arg(SqliteQuery::literal(name)));
    if (m_query.returnCode() == 0 && m_query.changes() > 0)
        emit productAdded(name);
    fillTable();
}
