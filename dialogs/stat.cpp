#include "stat.h"

#include "csvsavedialog.h"

#include <QEvent>
#include <QTableWidgetItem>
#include <QTextCodec>

#include <cstdio>

namespace {

const QString Grams = QStringLiteral("г");
const QString Kilograms = QStringLiteral("кг");
const QString Tonnes = QStringLiteral("т");

} // namespace

Stat::Stat(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint)
{
    setupUi(this);
    setModal(true);
    setContextMenuPolicy(Qt::NoContextMenu);
    setAttribute(Qt::WA_DeleteOnClose, false);
    installEventFilter(this);

    statTable->setColumnCount(2);
    statTable->setRowCount(0);
    statTable->setHorizontalHeaderLabels({QStringLiteral("Продукт"), QStringLiteral("Вес, кг")});
    statTable->resizeColumnsToContents();

    m_query.open(QStringLiteral("data.db"));
    ensureIndexes();

    connect(closeButton, &QPushButton::clicked, this, &Stat::closeClicked);
    connect(saveButton, &QPushButton::clicked, this, &Stat::saveProduct);
    connectDayLists();
}

Stat::~Stat()
{
    std::fputs("~Stat()\n", stderr);
    m_query.close();
}

bool Stat::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == this && event->type() == QEvent::Hide) {
        emit windowHided();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

// Without these every product and unit of a range scans all tasks, and every day scans all batches:
// ten years of production took seconds per choice. With them a whole-range table is a few index
// walks. On a first start the main window creates the tables after this dialog is built, so the
// indexes are tried again at each opening until they exist.
void Stat::ensureIndexes()
{
    if (m_indexesReady || !m_query.isOpen())
        return;
    m_query.runQuery(QStringLiteral("CREATE INDEX IF NOT EXISTS butchDate ON butch (date);"));
    const bool butchIndexed = m_query.returnCode() == 0;
    m_query.runQuery(QStringLiteral(
        "CREATE INDEX IF NOT EXISTS taskProductUnit ON task (productName, weightScale, idButch, haveDoneWeight);"));
    m_indexesReady = butchIndexed && m_query.returnCode() == 0;
}

void Stat::connectDayLists()
{
    connect(fromComboBox, &QComboBox::currentIndexChanged, this, &Stat::addDateTo, Qt::UniqueConnection);
    connect(toComboBox, &QComboBox::currentIndexChanged, this, &Stat::getStat, Qt::UniqueConnection);
}

void Stat::disconnectDayLists()
{
    disconnect(fromComboBox, &QComboBox::currentIndexChanged, this, &Stat::addDateTo);
    disconnect(toComboBox, &QComboBox::currentIndexChanged, this, &Stat::getStat);
}

int Stat::firstIdResult() const
{
    // No row is no batch: cell() gives the empty text, which reads as 0.
    return m_query.cell(0, 0).toInt();
}

void Stat::reloadDates()
{
    ensureIndexes();
    disconnectDayLists();
    fromComboBox->clear();

    m_query.runQuery(QStringLiteral("SELECT date FROM butch GROUP BY date ORDER BY idButch"));
    QStringList days;
    days.reserve(m_query.rows());
    for (int i = 0; i < m_query.rows(); ++i)
        days.append(m_query.cell(i, 0));
    fromComboBox->addItems(days);
    if (m_query.rows() > 0)
        fromComboBox->setCurrentIndex(-1);

    connectDayLists();
}

void Stat::addDateTo(int index)
{
    toComboBox->clear();
    if (index < 0)
        return;
    QStringList days;
    for (int i = index; i < fromComboBox->count(); ++i)
        days.append(fromComboBox->itemText(i));
    // The first day added becomes current, which shows the statistics of that single day at once.
    toComboBox->addItems(days);
}

void Stat::getStat()
{
    // The first batch started on the first day ...
    m_query.runQuery(QStringLiteral("SELECT idButch FROM butch WHERE date = %1")
                         .arg(SqliteQuery::literal(fromComboBox->currentText())));
    const int first = firstIdResult();
    // ... to the last batch started on the last day. Without max() SQLite hands back the first batch
    // of the day for the bare column, and the rest of the last day would be left out of the sums.
    m_query.runQuery(QStringLiteral("SELECT max(idButch) FROM butch WHERE date = %1 GROUP BY date")
                         .arg(SqliteQuery::literal(toComboBox->currentText())));
    const int last = firstIdResult();

    m_query.runQuery(
        QStringLiteral("SELECT productName FROM task WHERE idButch >= %1 AND idButch <= %2 GROUP BY productName")
            .arg(first)
            .arg(last));
    if (m_query.rows() < 1)
        return;
    // The statement has one column: the values are the names, kept while the sums run statements of their own.
    const QList<QByteArray> names = m_query.values();
    showProducts(names, first, last);
}

void Stat::showProducts(const QList<QByteArray> &names, int first, int last)
{
    // The table owns its items: clearing it deletes those of the previous range.
    statTable->clear();
    statTable->setColumnCount(2);
    statTable->setRowCount(int(names.size()));
    statTable->setHorizontalHeaderLabels({QStringLiteral("Продукт"), QStringLiteral("Вес, кг")});

    for (int row = 0; row < names.size(); ++row) {
        const QString name = QString::fromUtf8(names.at(row));
        statTable->setItem(row, 0, new QTableWidgetItem(name));
        const qreal grams = getSumWeight(first, last, name, Grams);
        const qreal kilograms = getSumWeight(first, last, name, Kilograms);
        const qreal tonnes = getSumWeight(first, last, name, Tonnes);
        const double total = grams + kilograms + tonnes;
        statTable->setItem(row, 1, new QTableWidgetItem(QStringLiteral("%1").arg(total, 0, 'f', 2)));
    }
    statTable->resizeColumnsToContents();
}

qreal Stat::getSumWeight(int first, int last, const QString &product, const QString &unit)
{
    // All four values in one pass: a product called "100%4" must stay that text and not take the unit.
    m_query.runQuery(QStringLiteral("SELECT haveDoneWeight FROM task WHERE (idButch >= %1 AND idButch <= %2) AND "
                                    "(productName = %3) AND (weightScale = %4)")
                         .arg(QString::number(first), QString::number(last), SqliteQuery::literal(product),
                             SqliteQuery::literal(unit)));
    qreal sum = 0.0;
    // A cell that is no number (an empty done weight of a task not yet discharged) adds 0. A number is
    // plain ASCII, so the UTF-8 bytes are read as they are: decoding 180,000 cells of a ten-year range
    // into strings first cost more than the statements themselves.
    for (const QByteArray &cell : m_query.values())
        sum += cell.toDouble();
    if (unit == Grams)
        return sum / 1000;
    if (unit == Tonnes)
        return sum * 1000;
    return sum;
}

QByteArray Stat::csvText(QTextCodec *codec) const
{
    QString text = QStringLiteral("С;") + CsvSaveDialog::quotedField(fromComboBox->currentText())
        + QStringLiteral(";По;") + CsvSaveDialog::quotedField(toComboBox->currentText())
        + QStringLiteral(";\n\nПродукт;Вес, кг;\n");
    for (int row = 0; row < statTable->rowCount(); ++row) {
        for (int column = 0; column < statTable->columnCount(); ++column) {
            const QTableWidgetItem *item = statTable->item(row, column);
            QString cell = item ? item->text() : QString();
            // The decimal comma is what a Russian spreadsheet reads as a number.
            if (column == 1) {
                const qsizetype point = cell.indexOf(QLatin1Char('.'));
                if (point >= 0)
                    cell[point] = QLatin1Char(',');
            }
            text += CsvSaveDialog::quotedField(cell) + QLatin1Char(';');
        }
        text += QLatin1Char('\n');
    }
    return codec->fromUnicode(text);
}

bool Stat::writeCsv(const QString &fileName, QString *error) const
{
    // Spreadsheets here read CSV files in the Windows code page.
    QTextCodec *codec = QTextCodec::codecForName("cp1251");
    if (!codec) {
        if (error)
            *error = QStringLiteral("нет кодировки Windows-1251");
        return false;
    }
    QString failure;
    const bool written = CsvSaveDialog::writeFile(fileName, csvText(codec), &failure);
    if (!written && error)
        *error = failure;
    return written;
}

QString Stat::proposedFileName() const
{
    const QString first = fromComboBox->currentText();
    const QString last = toComboBox->currentText();
    const QString days = last.isEmpty() || last == first ? first : first + QLatin1Char('-') + last;
    return QStringLiteral("статистика_%1.csv").arg(days);
}

void Stat::saveProduct()
{
    QTextCodec *codec = QTextCodec::codecForName("cp1251");
    if (!codec)
        return;
    // Made at the first save: a window that is only looked at builds no keyboard field.
    if (!m_saveDialog)
        m_saveDialog = new CsvSaveDialog(this);
    const QString written = m_saveDialog->saveAs(proposedFileName(), [this, codec] { return csvText(codec); });
    if (!written.isEmpty())
        emit exported(written);
}
