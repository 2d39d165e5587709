#include "eventjournalwindow.h"

#include "csvsavedialog.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStringEncoder>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
constexpr int TouchHeight = 48;
// The same pace as the recipe manager's list buttons: a tap steps once, a hold repeats after a pause.
constexpr int HoldDelayMs = 300;
constexpr int RepeatMs = 100;
const QString DayFormat = QStringLiteral("dd.MM.yyyy");
} // namespace

EventJournalWindow::EventJournalWindow(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint)
{
    setWindowTitle(QStringLiteral("Журнал событий"));
    setContextMenuPolicy(Qt::NoContextMenu);
    m_database.openQuietly(QStringLiteral("data.db"));
    buildLayout();
}

QPushButton *EventJournalWindow::addButton(const QString &text, const char *name)
{
    auto *button = new QPushButton(text, this);
    button->setObjectName(QString::fromLatin1(name));
    button->setMinimumHeight(TouchHeight);
    button->setAutoDefault(false);
    return button;
}

void EventJournalWindow::buildLayout()
{
    auto *layout = new QVBoxLayout(this);
    auto *days = new QHBoxLayout;
    QPushButton *previous = addButton(QStringLiteral("◄ Предыдущий день"), "previousDayButton");
    m_dayLabel = new QLabel(this);
    m_dayLabel->setObjectName(QStringLiteral("dayLabel"));
    m_dayLabel->setAlignment(Qt::AlignCenter);
    QPushButton *next = addButton(QStringLiteral("Следующий день ►"), "nextDayButton");
    QPushButton *all = addButton(QStringLiteral("Все дни"), "allDaysButton");
    days->addWidget(previous);
    days->addWidget(m_dayLabel, 1);
    days->addWidget(next);
    days->addWidget(all);
    layout->addLayout(days);

    auto *middle = new QHBoxLayout;
    m_table = new QTableWidget(0, 5, this);
    m_table->setObjectName(QStringLiteral("eventTable"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("Время"), QStringLiteral("Дозатор"), QStringLiteral("Событие"),
        QStringLiteral("Описание"), QStringLiteral("Партия")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(3, QHeaderView::Stretch);
    m_table->setMinimumSize(820, 360);
    middle->addWidget(m_table, 1);
    auto *arrows = new QVBoxLayout;
    QPushButton *up = addButton(QStringLiteral("▲"), "upButton");
    QPushButton *down = addButton(QStringLiteral("▼"), "downButton");
    for (QPushButton *arrow : {up, down}) {
        arrow->setMinimumWidth(TouchHeight + 16);
        arrow->setAutoRepeat(true);
        arrow->setAutoRepeatDelay(HoldDelayMs);
        arrow->setAutoRepeatInterval(RepeatMs);
        arrow->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        arrows->addWidget(arrow);
    }
    middle->addLayout(arrows);
    layout->addLayout(middle, 1);

    auto *bottom = new QHBoxLayout;
    QPushButton *save = addButton(QStringLiteral("Сохранить"), "saveButton");
    QPushButton *close = addButton(QStringLiteral("Закрыть"), "closeButton");
    bottom->addStretch(1);
    bottom->addWidget(save);
    bottom->addWidget(close);
    layout->addLayout(bottom);

    connect(previous, &QPushButton::clicked, this, [this] { stepDay(-1); });
    connect(next, &QPushButton::clicked, this, [this] { stepDay(1); });
    connect(all, &QPushButton::clicked, this, &EventJournalWindow::showNewest);
    connect(up, &QPushButton::clicked, this, [this] { step(-1); });
    connect(down, &QPushButton::clicked, this, [this] { step(1); });
    connect(save, &QPushButton::clicked, this, &EventJournalWindow::save);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
}

void EventJournalWindow::showNewest()
{
    m_day = QDate();
    reload();
}

void EventJournalWindow::showDay(const QDate &day)
{
    m_day = day;
    reload();
}

// From all days, either button goes to the day of the newest event shown (today when there is none).
void EventJournalWindow::stepDay(int days)
{
    if (m_day.isValid()) {
        showDay(m_day.addDays(days));
        return;
    }
    const QDate newest = m_events.isEmpty()
        ? QDate::currentDate()
        : QDateTime::fromString(m_events.first().time, QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).date();
    showDay(newest.isValid() ? newest : QDate::currentDate());
}

void EventJournalWindow::reload()
{
    m_events.clear();
    m_allRead = false;
    m_table->setRowCount(0);
    m_dayLabel->setText(dayTitle());
    readNextPage();
    if (m_table->rowCount() > 0)
        m_table->selectRow(0);
    m_table->scrollToTop();
}

bool EventJournalWindow::readNextPage()
{
    if (m_allRead)
        return false;
    const int from = int(m_events.size());
    const QList<EventJournal::Event> page = m_journal.read(m_day, from, EventJournal::PageSize);
    m_allRead = page.size() < EventJournal::PageSize;
    m_events.append(page);
    appendRows(from);
    return !page.isEmpty();
}

QString EventJournalWindow::shownTime(const QString &stored)
{
    // "yyyy-MM-dd HH:mm:ss.zzz" as the operator reads a date: "dd.MM.yyyy HH:mm:ss".
    if (stored.size() < 19)
        return stored;
    return stored.mid(8, 2) + QLatin1Char('.') + stored.mid(5, 2) + QLatin1Char('.') + stored.left(4)
        + stored.mid(10, 9);
}

void EventJournalWindow::appendRows(int from)
{
    m_table->setRowCount(int(m_events.size()));
    for (int row = from; row < m_events.size(); ++row) {
        const EventJournal::Event &event = m_events.at(row);
        const QStringList cells = {shownTime(event.time),
            event.deviceId > 0 ? QString::number(event.deviceId) : QString(), EventJournal::kindTitle(event.kind),
            event.text, event.idButch > 0 ? QString::number(event.idButch) : QString()};
        for (int column = 0; column < cells.size(); ++column)
            m_table->setItem(row, column, new QTableWidgetItem(cells.at(column)));
    }
    m_table->resizeColumnToContents(0);
    m_table->resizeColumnToContents(2);
}

// One row per step; the next page is read when the step would leave the rows read so far.
void EventJournalWindow::step(int rows)
{
    const int target = std::max(0, m_table->currentRow() + rows);
    if (target >= m_table->rowCount() && !readNextPage())
        return;
    if (target < m_table->rowCount()) {
        m_table->selectRow(target);
        m_table->scrollToItem(m_table->item(target, 0));
    }
}

QString EventJournalWindow::dayTitle() const
{
    return m_day.isValid() ? m_day.toString(DayFormat) : QStringLiteral("Все дни");
}

QString EventJournalWindow::proposedFileName() const
{
    if (m_day.isValid())
        return QStringLiteral("журнал_%1.csv").arg(m_day.toString(DayFormat));
    if (m_events.isEmpty())
        return QStringLiteral("журнал.csv");
    const QString newest = shownTime(m_events.first().time).left(10);
    const QString oldest = shownTime(m_events.last().time).left(10);
    return QStringLiteral("журнал_%1.csv").arg(oldest == newest ? newest : oldest + QLatin1Char('-') + newest);
}

QByteArray EventJournalWindow::csvText() const
{
    // A day goes out whole, however far the list was scrolled; all days as far as they were read.
    const QList<EventJournal::Event> events = m_day.isValid() ? m_journal.read(m_day, 0, -1) : m_events;
    QString text = QStringLiteral("Время;Дозатор;Событие;Описание;Партия;\n");
    for (const EventJournal::Event &event : events) {
        const QStringList cells = {shownTime(event.time),
            event.deviceId > 0 ? QString::number(event.deviceId) : QString(), EventJournal::kindTitle(event.kind),
            event.text, event.idButch > 0 ? QString::number(event.idButch) : QString()};
        for (const QString &cell : cells)
            text += CsvSaveDialog::quotedField(cell) + QLatin1Char(';');
        text += QLatin1Char('\n');
    }
    // Spreadsheets here read CSV files in the Windows code page.
    QStringEncoder encoder("windows-1251");
    return encoder.encode(text);
}

void EventJournalWindow::save()
{
    // Made at the first save: a window that is only looked at builds no keyboard field.
    if (!m_saveDialog)
        m_saveDialog = new CsvSaveDialog(this);
    const QString written = m_saveDialog->saveAs(proposedFileName(), [this] { return csvText(); });
    if (!written.isEmpty())
        emit exported(written);
}
