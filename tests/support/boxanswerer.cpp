#include "boxanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

BoxAnswerer::BoxAnswerer(QObject *parent)
    : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &BoxAnswerer::answer);
    m_timer.start(10);
}

void BoxAnswerer::answer()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    const QList<QAbstractButton *> buttons = box->buttons();
    for (QAbstractButton *button : buttons) {
        if (button->text() == QStringLiteral("Да") || button->text() == QStringLiteral("Ok")) {
            m_texts << box->text();
            if (m_onBox)
                m_onBox(box->text());
            button->click();
            return;
        }
    }
}
