#include "combotextrelay.h"

#include <QComboBox>

ComboTextRelay::ComboTextRelay(QComboBox *comboBox)
    : QObject(comboBox)
    , m_comboBox(comboBox)
{
    // The index signal fires at exactly the moments the text signal used to; the text is read at that
    // moment, so an index of -1 (empty list or nothing chosen) gives the empty text.
    connect(comboBox, &QComboBox::currentIndexChanged, this, &ComboTextRelay::announce);
}

void ComboTextRelay::announce(int index)
{
    emit currentIndexChanged(m_comboBox->itemText(index));
}
