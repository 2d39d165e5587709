#pragma once

#include <QObject>
#include <QString>

/// Answers the next modal box (a QMessageBox or dialog run with exec()) from a test: arm it before the
/// action that opens the box; once the box is the active modal widget it records the box's text and
/// title and clicks the button with the given text through a real mouse click.
class ModalAnswerer : public QObject
{
    Q_OBJECT
public:
    explicit ModalAnswerer(const QString &buttonText, int timeoutMs = 10000);

    bool answered() const { return m_answered; }
    QString boxText() const { return m_boxText; }
    QString boxTitle() const { return m_boxTitle; }
    /// Text of the default button when the box appeared (the button Enter would press).
    QString defaultButtonText() const { return m_defaultButton; }

private slots:
    void poll();

private:
    QString m_buttonText;
    int m_remainingMs;
    bool m_answered = false;
    QString m_boxText;
    QString m_boxTitle;
    QString m_defaultButton;
};
