#pragma once

#include <QObject>
#include <QString>

class QComboBox;

/// Announces a combo box's current entry by its text each time the current index changes, as
/// QComboBox::currentIndexChanged(QString) did before Qt 6 dropped it: on every change of the index,
/// whether the operator or the program made it, with the text of the new current entry. Emptying the list
/// while an entry is current gives the empty text; the first entry added to an empty list becomes current
/// and is announced; choosing the entry that is already current, or renaming the current entry, gives
/// nothing. The relay belongs to its combo box and goes with it.
class ComboTextRelay : public QObject
{
    Q_OBJECT
public:
    explicit ComboTextRelay(QComboBox *comboBox);

signals:
    void currentIndexChanged(const QString &text);

private:
    void announce(int index);

    QComboBox *m_comboBox = nullptr;
};
