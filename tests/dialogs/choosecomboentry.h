#pragma once

#include <QAbstractItemView>
#include <QComboBox>
#include <QTest>

// Chooses an entry the way the operator does: the list pops up, the entry is highlighted and taken. The
// popup hands the entry to the combo box exactly as a touch on it would (it also fires activated()).
inline bool chooseComboEntry(QComboBox *comboBox, int row)
{
    comboBox->showPopup();
    QAbstractItemView *list = comboBox->view();
    if (!QTest::qWaitFor([list] { return list->isVisible(); }))
        return false;
    list->setCurrentIndex(list->model()->index(row, comboBox->modelColumn()));
    QTest::keyClick(list, Qt::Key_Return);
    return QTest::qWaitFor([list] { return !list->isVisible(); });
}
