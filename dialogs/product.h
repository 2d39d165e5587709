#pragma once

#include "sqlitequery.h"
#include "ui_productform.h"

#include <QDialog>
#include <QString>

class QEvent;
class QMessageBox;
class QPushButton;
class QTableWidgetItem;

// The product catalogue: lists the table `product` of data.db, adds a product by name and deletes the
// selected one after a confirmation. Every change goes to the database at once and the table is re-read,
// so the list on screen is always what the main window will read back.
class Product : public QDialog, public Ui::productForm
{
    Q_OBJECT
public:
    explicit Product(QWidget *parent = nullptr);
    ~Product() override;

    /// Reads the table again from data.db, after another connection changed the catalogue.
    void fillTable();

signals:
    void closeClicked();
    void windowHided();
    /// A product name was put into the catalogue, or taken out of it.
    void productAdded(const QString &name);
    void productDeleted(const QString &name);

public slots:
    void productTableClicked(QTableWidgetItem *item);
    void deleteProduct();
    void addProduct();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createConfirmBox();
    void deleteProductRow(qlonglong id);

    SqliteQuery m_query;
    QMessageBox *m_confirmBox = nullptr;
    QPushButton *m_yesButton = nullptr;
    QString m_selectedId;
};
