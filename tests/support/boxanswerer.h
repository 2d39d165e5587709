#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

/// Answers every modal message box for as long as it lives, the way an operator who goes on with the
/// batch does: "Да" to the station's questions, "Ok" to its notices. Every text shown is kept, so that a
/// harness can tell whether a stop was explained on the screen.
class BoxAnswerer : public QObject
{
    Q_OBJECT
public:
    explicit BoxAnswerer(QObject *parent = nullptr);

    /// Texts of the boxes answered so far, in order.
    QStringList texts() const { return m_texts; }
    /// Whether a box with @p text has been answered since the @p from-th one.
    bool shown(const QString &text, qsizetype from = 0) const { return m_texts.indexOf(text, from) >= 0; }
    qsizetype count() const { return m_texts.size(); }
    /// Called with each box's text as it is answered, before the click.
    void onBox(const std::function<void(const QString &)> &callback) { m_onBox = callback; }

private:
    void answer();

    QTimer m_timer;
    QStringList m_texts;
    std::function<void(const QString &)> m_onBox;
};
