#pragma once

#include <QFrame>
#include <QString>
#include <QTime>

class QHBoxLayout;
class QLabel;

/// The band along the foot of the main window that tells the operator, in words and across the room,
/// what state the doser is in, why and since when: a fault in red with its number and text, a lost line
/// in blue with the doser and the port, normal work calm. Its right end holds small widgets of other
/// concerns (a journal button, a database state).
class StateStrip : public QFrame
{
    Q_OBJECT
public:
    enum class Kind { None, Working, Stopped, Fault, NoConnection, Other };

    explicit StateStrip(QWidget *parent = nullptr);

    /// A state word as the doser reports it ("РАБОТА", "ОСТАНОВ", "АВАРИЯ"); a fault already shown keeps
    /// its cause and its time.
    void showState(const QString &word);
    /// The cause of the fault in force: its number (negative when unknown) and the error table's text.
    void showFault(int code, const QString &text);
    /// The doser @p doser is not answering on @p port (empty: no port); the time of the first loss stays.
    void showNoConnection(int doser, const QString &port);
    void clear();

    Kind kind() const { return m_kind; }
    QString text() const;
    /// Places @p widget at the strip's right end, after those placed before it.
    void addTrailingWidget(QWidget *widget);

private:
    void enter(Kind kind);
    void present(const QString &text);

    QLabel *m_mark = nullptr;
    QLabel *m_text = nullptr;
    QHBoxLayout *m_trailing = nullptr;
    Kind m_kind = Kind::None;
    QTime m_since;
};
