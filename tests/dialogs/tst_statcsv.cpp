#include "csvsavedialog.h"
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
#include <sys/syscall.h>
#include <unistd.h>

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

QTEST_MAIN(tst_StatCsv)
#include "tst_statcsv.moc"
