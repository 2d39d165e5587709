#include "modalanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {
constexpr int PollMs = 10;
}

ModalAnswerer::ModalAnswerer(const QString &buttonText, int timeoutMs)
    : m_buttonText(buttonText)
    , m_remainingMs(timeoutMs)
{
    QTimer::singleShot(0, this, &ModalAnswerer::poll);
}

void ModalAnswerer::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    QAbstractButton *target = nullptr;
    if (modal && modal->isVisible()) {
        const auto buttons = modal->findChildren<QAbstractButton *>();
        for (QAbstractButton *button : buttons) {
            if (button->text() == m_buttonText && button->isVisible())
                target = button;
        }
    }
    if (!target) {
        m_remainingMs -= PollMs;
        if (m_remainingMs > 0)
            QTimer::singleShot(PollMs, this, &ModalAnswerer::poll);
        return;
    }
    m_boxTitle = modal->windowTitle();
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        m_boxText = box->text();
        if (box->defaultButton())
            m_defaultButton = box->defaultButton()->text();
    }
    m_answered = true;
    QTest::mouseClick(target, Qt::LeftButton);
}
