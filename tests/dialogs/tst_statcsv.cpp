#include "csvsavedialog.h"
#include "eventjournal.h"
#include "eventjournalwindow.h"
#include "modalanswerer.h"
#include "productionrecords.h"
#include "stat.h"
#include "stderrcapture.h"
#include "testworkdir.h"
#include "touchtyping.h"

#include <QListWidget>
#include <QStringEncoder>
#include <QtTest>

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <memory>

namespace {

// Answers the save dialog the way the operator does: touches the folder of `path` in the list (added to
// it when it is none of the folders offered), types the file name on the on-screen keyboard and saves.
class SaveDialogAnswerer : public QObject
{
public:
    explicit SaveDialogAnswerer(const QString &path)
        : m_path(path)
    {
        QTimer::singleShot(0, this, [this] { poll(); });
    }

    bool answered() const { return m_answered; }
    QString caption() const { return m_caption; }
    QString proposedName() const { return m_proposedName; }

private:
    void poll()
    {
        auto *dialog = qobject_cast<CsvSaveDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) {
            QTimer::singleShot(10, this, [this] { poll(); });
            return;
        }
        m_answered = true;
        m_caption = dialog->windowTitle();
        auto *name = dialog->findChild<LineEditEmbedded *>(QStringLiteral("fileNameEdit"));
        m_proposedName = name->text();
        const QFileInfo target(m_path);
        auto *folders = dialog->findChild<QListWidget *>(QStringLiteral("folderList"));
        const QList<QListWidgetItem *> offered = folders->findItems(target.path(), Qt::MatchExactly);
        QListWidgetItem *folder = offered.isEmpty() ? new QListWidgetItem(target.path(), folders) : offered.first();
        QTest::mouseClick(folders->viewport(), Qt::LeftButton, {}, folders->visualItemRect(folder).center());
        if (!typeOnKeyboard(name, target.fileName()))
            return;
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("saveButton")), Qt::LeftButton);
    }

    QString m_path;
    bool m_answered = false;
    QString m_caption;
    QString m_proposedName;
};

// Root writes into a read-only folder all the same. For the time of one save the test thread gives up
// the capabilities that allow it, as an operator's account never has them.
class WithoutFileOverride
{
public:
    WithoutFileOverride()
    {
        if (geteuid() != 0 || syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct lowered[2] = {m_saved[0], m_saved[1]};
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        m_lowered = syscall(SYS_capset, &m_header, lowered) == 0;
    }
    ~WithoutFileOverride()
    {
        if (m_lowered)
            syscall(SYS_capset, &m_header, m_saved);
    }
    WithoutFileOverride(const WithoutFileOverride &) = delete;
    WithoutFileOverride &operator=(const WithoutFileOverride &) = delete;

private:
    __user_cap_header_struct m_header {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2] = {};
    bool m_lowered = false;
};

QByteArray windows1251(const QString &text)
{
    QStringEncoder encoder("windows-1251");
    const QByteArray bytes = encoder.encode(text);
    return bytes;
}

// A limit on the size of the files this process writes, for the time of one save: a write beyond it fails
// midway with EFBIG (its signal ignored), as a disk that fills up fails it.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        if (bytes == 0)
            return;
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit lowered = m_saved;
        lowered.rlim_cur = bytes;
        m_lowered = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit()
    {
        if (m_lowered)
            setrlimit(RLIMIT_FSIZE, &m_saved);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_saved {};
    bool m_lowered = false;
};

ino_t inodeOf(const QString &path)
{
    struct stat status
    { };
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : 0;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

class tst_StatCsv : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void fileByteForByte();
    void emptyTableWritesHeaderLines();
    void unwritableFileIsReported_data();
    void unwritableFileIsReported();
    void fullDiskIsReported();
    void exportReplacesOlderFileWhole_data();
    void exportReplacesOlderFileWhole();

private:
    // Clicks "Сохранить" and answers the save dialog with `path`; a save that works names the file written.
    void save(Stat &stat, const QString &path, bool writes = true);

    std::unique_ptr<TestWorkDir> m_dir;
    std::unique_ptr<ProductionRecords> m_records;
};

void tst_StatCsv::init()
{
    m_dir = std::make_unique<TestWorkDir>();
    m_records = std::make_unique<ProductionRecords>();
}

void tst_StatCsv::cleanup()
{
    m_records.reset();
    m_dir.reset();
}

void tst_StatCsv::save(Stat &stat, const QString &path, bool writes)
{
    SaveDialogAnswerer answerer(path);
    std::unique_ptr<ModalAnswerer> written;
    if (writes)
        written = std::make_unique<ModalAnswerer>(QStringLiteral("Ok"));
    QTest::mouseClick(stat.saveButton, Qt::LeftButton);
    QVERIFY(answerer.answered());
    if (written)
        QCOMPARE(written->boxText(), QStringLiteral("Файл записан:\n") + path);
    QCOMPARE(answerer.caption(), QStringLiteral("Сохранить"));
    QCOMPARE(answerer.proposedName(), stat.proposedFileName());
}

void tst_StatCsv::fileByteForByte()
{
    const QString day1 = QStringLiteral("01.09.2024");
    const QString day2 = QStringLiteral("02.09.2024");
    m_records->addBatch(day1, QStringLiteral("Соль"), QStringLiteral("500.0"), QStringLiteral("г"));
    m_records->addBatch(day1, QStringLiteral("Мука \"Экстра\""), QStringLiteral("1.25"));
    m_records->addBatch(day1, QStringLiteral("Кофе ☕"), QStringLiteral("1.00"));
    m_records->addBatch(day2, QStringLiteral("Соль"), QStringLiteral("2.00"));
    m_records->addBatch(day2, QStringLiteral("Сахар"), QStringLiteral("2.00"));
    m_records->addBatch(day2, QStringLiteral("Соль"), QStringLiteral("0.001"), QStringLiteral("т"));
    m_records->addBatch(day2, QStringLiteral("Мука \"Экстра\""), QStringLiteral("500"), QStringLiteral("г"));
    Stat stat;
    stat.reloadDates();
    stat.show();
    QVERIFY(QTest::qWaitForWindowExposed(&stat));
    stat.fromComboBox->setCurrentIndex(0);
    stat.toComboBox->setCurrentIndex(1);
    QCOMPARE(stat.statTable->rowCount(), 4);

    const QString path = m_dir->filePath(QStringLiteral("итог.csv"));
    save(stat, path);

    const QByteArray expected = windows1251(QStringLiteral("С;\"01.09.2024\";По;\"02.09.2024\";\n"
                                                           "\n"
                                                           "Продукт;Вес, кг;\n"
                                                           "\"Кофе ?\";\"1,00\";\n"
                                                           "\"Мука \"\"Экстра\"\"\";\"1,75\";\n"
                                                           "\"Сахар\";\"2,00\";\n"
                                                           "\"Соль\";\"3,50\";\n"));
    const QByteArray written = readAll(path);
    QCOMPARE(written, expected);
    QVERIFY(written.contains(QByteArray::fromHex("c2e5f12c20eae33b0a"))); // "Вес, кг;\n" in Windows-1251
    QVERIFY(!written.contains('\r'));
}

void tst_StatCsv::emptyTableWritesHeaderLines()
{
    Stat stat;
    stat.reloadDates();
    stat.show();
    QVERIFY(QTest::qWaitForWindowExposed(&stat));
    const QString path = m_dir->filePath(QStringLiteral("empty.csv"));
    save(stat, path);
    QCOMPARE(readAll(path), windows1251(QStringLiteral("С;\"\";По;\"\";\n\nПродукт;Вес, кг;\n")));
}

void tst_StatCsv::unwritableFileIsReported_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("kind");
    QTest::addRow("read-only folder") << "locked"
                                      << "read-only";
    QTest::addRow("folder that is a file") << "plain"
                                           << "file";
    QTest::addRow("folder that is gone") << "gone"
                                         << "removed";
}

void tst_StatCsv::unwritableFileIsReported()
{
    QFETCH(QString, folder);
    QFETCH(QString, kind);
    if (kind == QLatin1String("file")) {
        QFile plain(folder);
        QVERIFY(plain.open(QIODevice::WriteOnly));
    } else if (kind == QLatin1String("read-only")) {
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(QFile::setPermissions(folder,
            QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup | QFileDevice::ExeGroup
                | QFileDevice::ReadOther | QFileDevice::ExeOther));
    }
    const QString path = m_dir->filePath(folder + QStringLiteral("/stat.csv"));

    m_records->addBatch(QStringLiteral("01.10.2024"), QStringLiteral("Мука"), QStringLiteral("1.00"));
    Stat stat;
    stat.reloadDates();
    stat.fromComboBox->setCurrentIndex(0);
    stat.show();
    QVERIFY(QTest::qWaitForWindowExposed(&stat));

    WithoutFileOverride operatorRights;
    if (QFile(m_dir->filePath(folder + QStringLiteral("/probe"))).open(QIODevice::WriteOnly))
        QSKIP("this process writes into read-only folders");
    ModalAnswerer failure(QStringLiteral("Ok"));
    StderrCapture capture;
    save(stat, path, false);
    QVERIFY(failure.answered());
    const QByteArray log = capture.text();
    QVERIFY2(log.startsWith("\nCan't write the file " + path.toUtf8() + ": "), log.constData());
    QCOMPARE(failure.boxTitle(), QStringLiteral("Сообщение"));
    const QStringList parts = failure.boxText().split(QStringLiteral("\n\n"));
    QCOMPARE(parts.size(), 2);
    QCOMPARE(parts.at(0), QStringLiteral("Не удалось записать файл\n") + path);
    QVERIFY2(!parts.at(1).trimmed().isEmpty(), "the reason is missing");
    QVERIFY(!QFile::exists(path));
    QVERIFY(stat.isVisible());
}

void tst_StatCsv::fullDiskIsReported()
{
    if (!QFile::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full here");
    Stat stat;
    QString error;
    QVERIFY(!stat.writeCsv(QStringLiteral("/dev/full"), &error));
    QVERIFY2(!error.isEmpty(), "the reason is missing");
}

void tst_StatCsv::exportReplacesOlderFileWhole_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("typedName");
    QTest::addColumn<QString>("proposed");
    QTest::addColumn<int>("fileSizeLimit");
    QTest::addRow("statistics, suffix added")
        << "statistics" << QStringLiteral("итог") << QStringLiteral("статистика_01.09.2024-02.09.2024.csv") << 0;
    QTest::addRow("journal of one day over an older export")
        << "journal" << QStringLiteral("журнал_01.09.2024.csv") << QStringLiteral("журнал_01.09.2024.csv") << 0;
    QTest::addRow("write failing midway keeps the older export")
        << "journal" << QStringLiteral("журнал_01.09.2024.csv") << QStringLiteral("журнал_01.09.2024.csv") << 16 * 1024;
}

void tst_StatCsv::exportReplacesOlderFileWhole()
{
    QFETCH(QString, table);
    QFETCH(QString, typedName);
    QFETCH(QString, proposed);
    QFETCH(int, fileSizeLimit);
    m_records->addBatch(QStringLiteral("01.09.2024"), QStringLiteral("Соль"), QStringLiteral("1.00"));
    m_records->addBatch(QStringLiteral("02.09.2024"), QStringLiteral("Соль"), QStringLiteral("2.00"));
    for (const QString &statement : EventJournal::createStatements())
        m_records->query().runQuery(statement);
    EventJournal journal(m_records->query());
    constexpr int DayEvents = 400;
    for (int i = 0; i < DayEvents; ++i) {
        const QString time = QStringLiteral("2024-09-01 08:%1:%2.000")
                                 .arg(i / 60, 2, 10, QLatin1Char('0'))
                                 .arg(i % 60, 2, 10, QLatin1Char('0'));
        QVERIFY(journal.record({time, 30, QStringLiteral("command"), QStringLiteral("Разгрузить ГПУ №%1").arg(i), 1}));
    }
    QVERIFY(journal.record(
        {QStringLiteral("2024-09-02 09:00:00.000"), 30, QStringLiteral("fault"), QStringLiteral("следующий день"), 2}));

    const QString path = m_dir->filePath(CsvSaveDialog::withCsvSuffix(typedName));
    const QByteArray older("older export\n");
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(older);
    }
    const ino_t olderInode = inodeOf(path);

    Stat stat;
    EventJournalWindow window;
    QWidget *shown = &stat;
    if (table == QLatin1String("statistics")) {
        stat.reloadDates();
        stat.fromComboBox->setCurrentIndex(0);
        stat.toComboBox->setCurrentIndex(1);
    } else {
        window.showNewest();
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("previousDayButton")), Qt::LeftButton);
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("previousDayButton")), Qt::LeftButton);
        QCOMPARE(window.day(), QDate(2024, 9, 1));
        QCOMPARE(window.shownRows(), EventJournal::PageSize);
        shown = &window;
    }
    shown->show();
    QVERIFY(QTest::qWaitForWindowExposed(shown));

    QSignalSpy exported(shown, SIGNAL(exported(QString)));
    SaveDialogAnswerer answerer(m_dir->filePath(typedName));
    ModalAnswerer outcome(QStringLiteral("Ok"));
    {
        FileSizeLimit limit {rlim_t(fileSizeLimit)};
        QTest::mouseClick(shown->findChild<QPushButton *>(QStringLiteral("saveButton")), Qt::LeftButton);
    }
    QVERIFY(answerer.answered());
    QCOMPARE(answerer.proposedName(), proposed);
    QVERIFY(outcome.answered());
    const QStringList left = QDir(m_dir->path()).entryList({QStringLiteral("*.csv*")}, QDir::Files);
    QCOMPARE(left, QStringList {QFileInfo(path).fileName()});
    if (fileSizeLimit > 0) {
        QVERIFY2(outcome.boxText().startsWith(QStringLiteral("Не удалось записать файл\n") + path),
            qPrintable(outcome.boxText()));
        // The system's reason, not Qt's "Unknown error" of a short write.
        QVERIFY2(!outcome.boxText().contains(QStringLiteral("Unknown error")), qPrintable(outcome.boxText()));
        QCOMPARE(readAll(path), older);
        QCOMPARE(exported.size(), 0);
        return;
    }
    QCOMPARE(outcome.boxText(), QStringLiteral("Файл записан:\n") + path);
    QCOMPARE(exported.size(), 1);
    QCOMPARE(exported.at(0).at(0).toString(), path);
    // Renamed into place: a new file, not the older one written over.
    QVERIFY(inodeOf(path) != olderInode);
    const QByteArray written = readAll(path);
    if (table == QLatin1String("journal")) {
        // The whole day, however few rows the list has read, and nothing of the next day.
        QCOMPARE(written.count('\n'), DayEvents + 1);
        QVERIFY(written.startsWith(
            windows1251(QStringLiteral("Время;Дозатор;Событие;Описание;Партия;\n\"01.09.2024 "
                                       "08:06:39\";\"30\";\"Команда\";\"Разгрузить ГПУ №399\";\"1\";\n"))));
        QVERIFY(!written.contains(windows1251(QStringLiteral("следующий день"))));
    } else {
        QVERIFY(written.startsWith(windows1251(QStringLiteral("С;\"01.09.2024\";По;\"02.09.2024\";"))));
    }
}

QTEST_MAIN(tst_StatCsv)
#include "tst_statcsv.moc"
