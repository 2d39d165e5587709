#include "statestrip.h"

#include "panelcodes.h"

#include <QHBoxLayout>
#include <QLabel>

using namespace PanelCodes;

namespace {

// A fault in red and a lost line in blue: a colour-blind operator tells red from blue, and each has its
// own mark and words besides. White on either has a contrast above 6.5 : 1.
// On a coloured band every label of the strip, those of other concerns at its right end too, is white;
// a calm state colours only its own words.
struct Look
{
    const char *mark;
    const char *style;
};

Look lookOf(StateStrip::Kind kind)
{
    switch (kind) {
    case StateStrip::Kind::Fault:
        return {"\u26A0", "StateStrip { background-color: #B71C1C; } StateStrip QLabel { color: white; }"};
    case StateStrip::Kind::NoConnection:
        return {"\u2298", "StateStrip { background-color: #0D47A1; } StateStrip QLabel { color: white; }"};
    case StateStrip::Kind::Working: return {"\u25B6", "QLabel#stateMark, QLabel#stateText { color: #1B5E20; }"};
    case StateStrip::Kind::Stopped: return {"\u25A0", "QLabel#stateMark, QLabel#stateText { color: #202020; }"};
    case StateStrip::Kind::Other: return {"", "QLabel#stateText { color: #202020; }"};
    case StateStrip::Kind::None: break;
    }
    return {"", ""};
}

StateStrip::Kind kindOf(const QString &word)
{
    if (word == Fault)
        return StateStrip::Kind::Fault;
    if (word == Working)
        return StateStrip::Kind::Working;
    if (word == Stopped)
        return StateStrip::Kind::Stopped;
    if (word == NoConnection)
        return StateStrip::Kind::NoConnection;
    return word.isEmpty() ? StateStrip::Kind::None : StateStrip::Kind::Other;
}

} // namespace

StateStrip::StateStrip(QWidget *parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("stateStrip"));
    setAutoFillBackground(true);
    m_mark = new QLabel(this);
    m_mark->setObjectName(QStringLiteral("stateMark"));
    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("stateText"));
    m_text->setWordWrap(true);
    QFont font = m_text->font();
    font.setPointSize(11);
    font.setBold(true);
    m_text->setFont(font);
    font.setPointSize(16);
    m_mark->setFont(font);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 2, 4, 2);
    layout->addWidget(m_mark);
    layout->addWidget(m_text, 1);
    m_trailing = new QHBoxLayout;
    m_trailing->setSpacing(6);
    layout->addLayout(m_trailing);
}

QString StateStrip::text() const
{
    return m_text->text();
}

void StateStrip::addTrailingWidget(QWidget *widget)
{
    m_trailing->addWidget(widget);
}

void StateStrip::enter(Kind kind)
{
    if (kind == m_kind)
        return;
    m_since = QTime::currentTime();
    m_kind = kind;
    const Look look = lookOf(kind);
    setStyleSheet(QLatin1String(look.style));
    m_mark->setText(QString::fromUtf8(look.mark));
}

void StateStrip::present(const QString &text)
{
    m_text->setText(QStringLiteral("%1 с %2").arg(text, m_since.toString(QStringLiteral("HH:mm:ss"))));
}

void StateStrip::showState(const QString &word)
{
    const Kind kind = kindOf(word);
    if (kind == Kind::None) {
        clear();
        return;
    }
    // The fault's cause arrives right after its state word, and the word comes again with every reply.
    if (kind == Kind::Fault && m_kind == Kind::Fault)
        return;
    enter(kind);
    present(word);
}

void StateStrip::showFault(int code, const QString &text)
{
    enter(Kind::Fault);
    if (code < 0)
        present(QStringLiteral("%1: %2").arg(Fault, text));
    else
        present(QStringLiteral("%1 %2: %3").arg(Fault).arg(code).arg(text));
}

void StateStrip::showNoConnection(int doser, const QString &port)
{
    enter(Kind::NoConnection);
    const QString where = port.isEmpty() ? QStringLiteral("порт не выбран") : QStringLiteral("порт %1").arg(port);
    present(QStringLiteral("%1 с дозатором %2 (%3)").arg(NoConnection).arg(doser).arg(where));
}

void StateStrip::clear()
{
    m_kind = Kind::None;
    setStyleSheet(QString());
    m_mark->clear();
    m_text->clear();
}
