#include "keyboard.h"

#include "embeddededitinterface.h"
#include "keyboardbutton.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>

#include <cstdio>

namespace {

constexpr int KeyFontPointSize = 16;
constexpr int ShiftBit = 1;
constexpr int CapsBit = 2;
constexpr int RussianBit = 4;

QFont keyFont()
{
    QFont font = QApplication::font();
    font.setPointSize(KeyFontPointSize);
    return font;
}

// A letter key: Latin lower, upper, upper, lower; then the Cyrillic letter the same way. Caps Lock and
// Shift together give lower case.
QString letterKey(QChar latin, QChar cyrillic)
{
    const QChar latinUpper = latin.toUpper();
    const QChar cyrillicUpper = cyrillic.toUpper();
    const QChar characters[] = {latin, latinUpper, latinUpper, latin, cyrillic, cyrillicUpper, cyrillicUpper, cyrillic};
    return QString(characters, 8);
}

QStringList letterKeys(const QString &latin, const QString &cyrillic)
{
    QStringList keys;
    for (int i = 0; i < latin.size(); ++i)
        keys << letterKey(latin.at(i), cyrillic.at(i));
    return keys;
}

// Every key is given by its eight characters in mode order: En, EnShift, EnCaps, EnCapsShift, Ru, RuShift,
// RuCaps, RuCapsShift.
QStringList fullsizeRow1()
{
    return {QStringLiteral(u"`~`~ёЁЁё"), QStringLiteral(u"1!1!1!1!"), QStringLiteral(u"2@2@2\"2\""),
        QStringLiteral(u"3#3#3№3№"), QStringLiteral(u"4$4$4;4;"), QStringLiteral(u"5%5%5%5%"),
        QStringLiteral(u"6^6^6:6:"), QStringLiteral(u"7&7&7?7?"), QStringLiteral(u"8*8*8*8*"),
        QStringLiteral(u"9(9(9(9("), QStringLiteral(u"0)0)0)0)"), QStringLiteral(u"-_-_-_-_"),
        QStringLiteral(u"=+=+=+=+"), QStringLiteral(u"\\|\\|\\/\\/")};
}

QStringList fullsizeRow2()
{
    return letterKeys(QStringLiteral(u"qwertyuiop"), QStringLiteral(u"йцукенгшщз"))
        << QStringLiteral(u"[{[{хХХх") << QStringLiteral(u"]}]}ъЪЪъ");
}

QStringList fullsizeRow3()
{
    return letterKeys(QStringLiteral(u"asdfghjkl"), QStringLiteral(u"фывапролд"))
        << QStringLiteral(u";:;:жЖЖж") << QStringLiteral(u"'\"'\"эЭЭэ");
}

QStringList fullsizeRow4()
{
    return letterKeys(QStringLiteral(u"zxcvbnm"), QStringLiteral(u"ячсмить"))
        << QStringLiteral(u",<,<бББб") << QStringLiteral(u".>.>юЮЮю") << QStringLiteral(u"/?/?.,.,");
}

QStringList sameInEveryMode(const QString &characters)
{
    QStringList keys;
    for (QChar c : characters)
        keys << QString(8, c);
    return keys;
}

} // namespace

Keyboard::Keyboard(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint)
{
    setVisible(false);
    setModal(true);
    setWindowTitle(QStringLiteral("Keyboard"));
    setContextMenuPolicy(Qt::NoContextMenu);
    setAttribute(Qt::WA_DeleteOnClose, false);

    m_enter = createFunctionButton(QStringLiteral("Enter"), "enterButton");
    m_escape = createFunctionButton(QStringLiteral("Esc"), "escapeButton");
    m_backspace = createFunctionButton(QStringLiteral("<-"), "backspaceButton");
    m_leftShift = createFunctionButton(QStringLiteral("Shift"), "leftShiftButton");
    m_rightShift = createFunctionButton(QStringLiteral("Shift"), "rightShiftButton");
    m_capsLock = createFunctionButton(QStringLiteral("Caps Lock"), "capsLockButton");
    m_language = createFunctionButton(QStringLiteral("En-Ru"), "languageButton");
    m_lineBreak = createFunctionButton(QStringLiteral("Новая строка"), "lineBreakButton");
    m_lineBreak->hide();
    m_leftShift->setCheckable(true);
    m_rightShift->setCheckable(true);
    m_capsLock->setCheckable(true);

    m_editingArea = new QTextEdit(this);
    m_editingArea->setObjectName(QStringLiteral("editingArea"));
    m_editingArea->setFont(keyFont());
    m_editingArea->setAcceptRichText(false);
    m_editingArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_editingArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    m_up = createCursorButton(QStringLiteral(":/images/up.png"), "upButton");
    m_down = createCursorButton(QStringLiteral(":/images/down.png"), "downButton");
    m_left = createCursorButton(QStringLiteral(":/images/left.png"), "leftButton");
    m_right = createCursorButton(QStringLiteral(":/images/right.png"), "rightButton");

    connect(m_enter, &QPushButton::clicked, this, &Keyboard::accept);
    connect(m_escape, &QPushButton::clicked, this, &Keyboard::reject);
    connect(m_backspace, &QPushButton::clicked, this, &Keyboard::backspacePressed);
    connect(m_leftShift, &QPushButton::clicked, this, &Keyboard::shiftPressed);
    connect(m_rightShift, &QPushButton::clicked, this, &Keyboard::shiftPressed);
    connect(m_capsLock, &QPushButton::clicked, this, &Keyboard::capsPressed);
    connect(m_language, &QPushButton::clicked, this, &Keyboard::languagePressed);
    connect(m_lineBreak, &QPushButton::clicked, this, [this] { m_editingArea->insertPlainText(QStringLiteral("\n")); });
    connect(m_up, &QPushButton::pressed, this, &Keyboard::upListButtonPressed);
    connect(m_up, &QPushButton::released, this, &Keyboard::upListButtonReleased);
    connect(m_down, &QPushButton::pressed, this, &Keyboard::downListButtonPressed);
    connect(m_down, &QPushButton::released, this, &Keyboard::downListButtonReleased);
    connect(m_left, &QPushButton::pressed, this, &Keyboard::leftListButtonPressed);
    connect(m_left, &QPushButton::released, this, &Keyboard::leftListButtonReleased);
    connect(m_right, &QPushButton::pressed, this, &Keyboard::rightListButtonPressed);
    connect(m_right, &QPushButton::released, this, &Keyboard::rightListButtonReleased);

    // A precise timer keeps the repeat steps close to their nominal spacing; it runs only while a key is held.
    m_repeatTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_repeatTimer, &QTimer::timeout, this, &Keyboard::repeatHeldMove);

    setMode(Ru);
}

Keyboard::~Keyboard()
{
    std::fputs("~Keyboard()\n", stderr);
}

QPushButton *Keyboard::createFunctionButton(const QString &text, const char *objectName)
{
    auto *button = new QPushButton(text, this);
    button->setObjectName(QLatin1String(objectName));
    button->setFont(keyFont());
    // The editing area keeps the focus, and with it its cursor, whatever key is touched.
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoDefault(false);
    return button;
}

QPushButton *Keyboard::createCursorButton(const QString &icon, const char *objectName)
{
    QPushButton *button = createFunctionButton(QString(), objectName);
    button->setIcon(QIcon(icon));
    button->setIconSize(QSize(32, 32));
    return button;
}

Keyboard *Keyboard::createKeyboard(Keyboard::Type type, QWidget *parent)
{
    auto *keyboard = new Keyboard(parent);
    if (type == FullsizeKeyboard)
        keyboard->layOutFullsize();
    else
        keyboard->layOutNumeric();
    keyboard->m_numeric = type != FullsizeKeyboard;
    keyboard->fitFunctionLabels();
    keyboard->setMode(Ru);
    // No layout: the dialog takes the size that encloses its keys.
    const QRect keys = keyboard->childrenRect();
    keyboard->setFixedSize(keys.right() + 1, keys.bottom() + 1);
    return keyboard;
}

// Key i of a row has its left edge at unit * (column + i * (width + gap)) and its top at unit * row.
void Keyboard::placeRow(const QStringList &keys, int column, int row, int width, int height, int gap, int unit)
{
    for (int i = 0; i < keys.size(); ++i) {
        auto *key = new KeyboardButton(keys.at(i), this);
        key->setFont(keyFont());
        key->setGeometry(unit * (column + i * (width + gap)), unit * row, unit * width, unit * height);
    }
}

void Keyboard::layOutFullsize()
{
    constexpr int unit = 13;
    placeRow(fullsizeRow1(), 0, 8, 4, 4, 1, unit);
    placeRow(fullsizeRow2(), 8, 13, 4, 4, 1, unit);
    placeRow(fullsizeRow3(), 9, 18, 4, 4, 1, unit);
    placeRow(fullsizeRow4(), 12, 23, 4, 4, 1, unit);
    placeRow({QString(8, QLatin1Char(' '))}, 21, 28, 27, 4, 1, unit);
    // Quotation marks and the number sign of product names and descriptions («Экстра», № 2), in every mode.
    placeRow(sameInEveryMode(QStringLiteral(u"«»№")), 49, 28, 4, 4, 1, unit);

    m_escape->setGeometry(0, 13, 52, 52);
    m_editingArea->setGeometry(104, 13, 598, 52);
    m_left->setGeometry(715, 13, 52, 52);
    m_right->setGeometry(780, 13, 52, 52);
    m_up->setGeometry(845, 13, 52, 52);
    m_down->setGeometry(910, 13, 52, 52);
    m_backspace->setGeometry(910, 104, 52, 52);
    m_enter->setGeometry(884, 169, 78, 117);
    m_language->setGeometry(0, 169, 91, 52);
    m_capsLock->setGeometry(0, 234, 104, 52);
    m_leftShift->setGeometry(0, 299, 143, 52);
    m_rightShift->setGeometry(806, 299, 156, 52);
    m_lineBreak->setGeometry(832, 364, 130, 52);
}

void Keyboard::layOutNumeric()
{
    constexpr int unit = 15;
    placeRow(sameInEveryMode(QStringLiteral("789")), 0, 6, 4, 4, 1, unit);
    placeRow(sameInEveryMode(QStringLiteral("456")), 0, 11, 4, 4, 1, unit);
    placeRow(sameInEveryMode(QStringLiteral("123")), 0, 16, 4, 4, 1, unit);
    placeRow(sameInEveryMode(QStringLiteral("0")), 0, 21, 9, 4, 1, unit);
    placeRow(sameInEveryMode(QStringLiteral(".")), 10, 21, 4, 4, 1, unit);

    m_escape->setGeometry(0, 15, 60, 60);
    m_editingArea->setGeometry(75, 15, 210, 60);
    m_backspace->setGeometry(225, 90, 60, 60);
    m_enter->setGeometry(225, 240, 60, 135);
    for (QPushButton *unused : {m_leftShift, m_rightShift, m_capsLock, m_language, m_up, m_down, m_left, m_right})
        unused->hide();
}

// The keys keep their sizes; a label wider than its key at 16 points ("Caps Lock", the numeric pad's
// "Enter" in some fonts) gets a smaller font instead of losing its first and last letters.
void Keyboard::fitFunctionLabels()
{
    constexpr int Margin = 4;
    constexpr int SmallestPointSize = 8;
    for (QPushButton *key :
        {m_enter, m_escape, m_backspace, m_leftShift, m_rightShift, m_capsLock, m_language, m_lineBreak}) {
        QFont font = key->font();
        while (font.pointSize() > SmallestPointSize
            && QFontMetrics(font).horizontalAdvance(key->text()) > key->width() - 2 * Margin)
            font.setPointSize(font.pointSize() - 1);
        key->setFont(font);
    }
}

void Keyboard::showFor(EmbeddedEditInterface *receiver, const QString &title, const QString &text)
{
    m_receiver = receiver;
    m_target = nullptr;
    offerLineBreak(receiver && receiver->acceptsLineBreaks());
    setWindowTitle(title);
    m_editingArea->setPlainText(text);
    // A value opened for editing is usually extended at its end.
    m_editingArea->moveCursor(QTextCursor::End);
    show();
    m_editingArea->setFocus(Qt::OtherFocusReason);
}

void Keyboard::showForWidget(QWidget *target, const QString &title)
{
    m_receiver = nullptr;
    m_target = target;
    offerLineBreak(false);
    setWindowTitle(title);
    m_editingArea->clear();
    show();
    m_editingArea->setFocus(Qt::OtherFocusReason);
}

void Keyboard::offerLineBreak(bool offered)
{
    // The numeric pad has no place for it: numbers are one line.
    m_lineBreak->setVisible(offered && !m_numeric);
}

void Keyboard::forgetReceiver(EmbeddedEditInterface *receiver)
{
    if (receiver && m_receiver == receiver) {
        m_receiver = nullptr;
        if (isVisible())
            done(Rejected);
    }
}

void Keyboard::setMode(int mode)
{
    if (mode < En || mode > RuCapsShift)
        return;
    m_mode = mode;
    const auto keys = findChildren<KeyboardButton *>();
    for (KeyboardButton *key : keys) {
        const QChar c = key->character(mode);
        if (c.isNull()) {
            key->hide();
            continue;
        }
        // A lone "&" would be taken as a shortcut marker and show nothing.
        key->setText(c == QLatin1Char('&') ? QStringLiteral("&&") : QString(c));
        key->show();
    }
    const bool shift = mode & ShiftBit;
    m_leftShift->setChecked(shift);
    m_rightShift->setChecked(shift);
    m_capsLock->setChecked(mode & CapsBit);
}

void Keyboard::typeCharacter(QChar c)
{
    // A number never gets a second decimal point.
    if (m_numeric && c == QLatin1Char('.') && m_editingArea->toPlainText().contains(QLatin1Char('.')))
        return;
    m_editingArea->insertPlainText(QString(c));
    // Shift applies to one character only; Caps Lock and the language stay.
    if (m_mode & ShiftBit)
        shiftPressed();
}

void Keyboard::shiftPressed()
{
    setMode(m_mode ^ ShiftBit);
}

void Keyboard::capsPressed()
{
    setMode(m_mode ^ CapsBit);
}

void Keyboard::languagePressed()
{
    setMode(m_mode ^ RussianBit);
}

void Keyboard::backspacePressed()
{
    const QString before = m_editingArea->toPlainText();
    m_editingArea->cut();
    if (m_editingArea->toPlainText() != before)
        return;
    QTextCursor cursor = m_editingArea->cursorForPosition(m_editingArea->cursorRect().center());
    cursor.deletePreviousChar();
}

void Keyboard::upListButtonPressed()
{
    startHold(QTextCursor::Up);
}

void Keyboard::upListButtonReleased()
{
    stopHold();
}

void Keyboard::downListButtonPressed()
{
    startHold(QTextCursor::Down);
}

void Keyboard::downListButtonReleased()
{
    stopHold();
}

void Keyboard::leftListButtonPressed()
{
    startHold(QTextCursor::PreviousCharacter);
}

void Keyboard::leftListButtonReleased()
{
    stopHold();
}

void Keyboard::rightListButtonPressed()
{
    startHold(QTextCursor::NextCharacter);
}

void Keyboard::rightListButtonReleased()
{
    stopHold();
}

// A held cursor key first moves when the repeat delay has passed, then once every repeat interval; the
// event loop runs between the steps, so the release is seen and an idle keyboard costs nothing.
void Keyboard::startHold(QTextCursor::MoveOperation move)
{
    m_heldMove = move;
    m_held = true;
    m_pending = true;
    m_repeatTimer.start(m_repeatDelay);
}

void Keyboard::repeatHeldMove()
{
    if (!m_held) {
        m_repeatTimer.stop();
        return;
    }
    if (m_pending) {
        m_pending = false;
        m_repeatTimer.start(m_repeatInterval);
    }
    m_editingArea->moveCursor(m_heldMove, QTextCursor::MoveAnchor);
}

// A short tap moves once, on release; after a hold the release adds no move.
void Keyboard::stopHold()
{
    const bool tap = m_held && m_pending;
    m_held = false;
    m_pending = false;
    m_repeatTimer.stop();
    if (tap)
        m_editingArea->moveCursor(m_heldMove, QTextCursor::MoveAnchor);
}

void Keyboard::accept()
{
    hide();
    QString text = m_editingArea->toPlainText();
    // A Return typed on a physical keyboard reaches the editing area too; a one-line value takes a space.
    if (!m_lineBreak->isVisibleTo(this))
        text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (QWidget *target = m_target.data()) {
        if (auto *button = qobject_cast<QAbstractButton *>(target))
            button->setText(text);
        else if (auto *label = qobject_cast<QLabel *>(target))
            label->setText(text);
        else if (auto *lineEdit = qobject_cast<QLineEdit *>(target))
            lineEdit->setText(text);
    }
    if (m_receiver)
        m_receiver->acceptText(text);
    emit textEntered(text);
    forgetTargets();
    QDialog::accept();
}

void Keyboard::reject()
{
    hide();
    emit textEntered(QString());
    forgetTargets();
    QDialog::reject();
}

void Keyboard::done(int result)
{
    hide();
    forgetTargets();
    QDialog::done(result);
}

void Keyboard::forgetTargets()
{
    m_target = nullptr;
    m_receiver = nullptr;
    // A key held when the keyboard closes must not go on moving in the next opening.
    m_held = false;
    m_pending = false;
    m_repeatTimer.stop();
}
