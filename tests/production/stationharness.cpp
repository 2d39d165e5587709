#include "stationharness.h"

#include "d415_fendrix.h"
#include "lineeditembedded.h"
#include "modalanswerer.h"
#include "serialport.h"
#include "simulatorprocess.h"
#include "sqlitequery.h"
#include "testworkdir.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTest>

#include <unistd.h>

LogTail::LogTail()
{
    std::fflush(stderr);
    m_saved = dup(STDERR_FILENO);
    m_file = std::tmpfile();
    dup2(fileno(m_file), STDERR_FILENO);
}

LogTail::~LogTail()
{
    std::fflush(stderr);
    dup2(m_saved, STDERR_FILENO);
    close(m_saved);
    // What the station said goes on to the real standard error, so that a failed test shows it.
    const QByteArray all = text();
    std::fwrite(all.constData(), 1, size_t(all.size()), stderr);
    std::fclose(m_file);
}

QByteArray LogTail::text()
{
    std::fflush(stderr);
    QFile file;
    QByteArray all;
    if (file.open(fileno(m_file), QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        file.seek(0);
        all = file.readAll();
    }
    return all;
}

StationHarness::StationHarness()
    : m_dir(new TestWorkDir)
    , m_log(new LogTail)
{
    // The station lists only ports/ (the simulator's link): never the machine's own serial devices.
    SerialPort::setSystemPortsListed(false);
    QDir().mkdir(QStringLiteral("ports"));
}

StationHarness::~StationHarness()
{
    // Whatever a failed test left open must not hold the next one.
    if (QWidget *modal = QApplication::activeModalWidget())
        modal->hide();
    delete m_window;
    m_window = nullptr;
    m_sim.reset();
    m_log.reset();
    // QSettings keeps the folder it found first for the whole process: forget what this test stored
    // (the doser settings save the doser number when the window goes), so the next test starts clean.
    QSettings settings(QStringLiteral("KESTU"), QStringLiteral("D415_Test"));
    settings.clear();
    settings.sync();
}

bool StationHarness::startSimulator(const QStringList &arguments)
{
    m_sim = std::make_unique<SimulatorProcess>();
    QStringList all {
        QStringLiteral("--fill-time"), QStringLiteral("20"), QStringLiteral("--discharge-time"), QStringLiteral("20")};
    all += arguments;
    if (m_sim->start(all))
        return true;
    qWarning("simulator: %s", qPrintable(m_sim->lastError()));
    return false;
}

bool StationHarness::simulator(const QString &command)
{
    return m_sim && m_sim->command(command);
}

QStringList StationHarness::requests()
{
    QStringList found;
    if (!m_sim)
        return found;
    QCoreApplication::processEvents();
    const QList<QPair<int, int>> commands = m_sim->requestCommands();
    for (const auto &command : commands)
        found << QStringLiteral("%1/%2").arg(command.first).arg(command.second);
    return found;
}

int StationHarness::requestCount(const QString &commandAndParameter)
{
    return int(requests().count(commandAndParameter));
}

D415_Fendrix *StationHarness::startStation()
{
    m_window = new D415_Fendrix;
    m_window->show();
    m_window->warnIfRecordsUnusable();
    m_window->restoreLastSession();
    return m_window;
}

void StationHarness::killStation()
{
    delete m_window;
    m_window = nullptr;
}

void StationHarness::closeStation()
{
    if (m_window)
        m_window->close();
    delete m_window;
    m_window = nullptr;
}

QPushButton *StationHarness::button(const char *name) const
{
    return m_window ? m_window->findChild<QPushButton *>(QLatin1String(name)) : nullptr;
}

QLabel *StationHarness::label(const char *name) const
{
    return m_window ? m_window->findChild<QLabel *>(QLatin1String(name)) : nullptr;
}

QLineEdit *StationHarness::edit(const char *name) const
{
    return m_window ? m_window->findChild<QLineEdit *>(QLatin1String(name)) : nullptr;
}

bool StationHarness::typeInto(const char *editName, const QString &text)
{
    auto *field = qobject_cast<LineEditEmbedded *>(edit(editName));
    if (!field || !field->keyboard())
        return false;
    QTest::mouseClick(field, Qt::LeftButton);
    Keyboard *keyboard = field->keyboard();
    if (!QTest::qWaitFor([&] { return keyboard->isVisible(); }, 2000))
        return false;
    const QList<QPushButton *> keys = keyboard->findChildren<QPushButton *>();
    for (const QChar c : text) {
        QPushButton *key = nullptr;
        for (QPushButton *candidate : keys) {
            if (candidate->text() == QString(c) && candidate->isVisible())
                key = candidate;
        }
        if (!key)
            return false;
        QTest::mouseClick(key, Qt::LeftButton);
    }
    auto *enter = keyboard->findChild<QPushButton *>(QStringLiteral("enterButton"));
    if (!enter)
        return false;
    QTest::mouseClick(enter, Qt::LeftButton);
    return QTest::qWaitFor([&] { return !keyboard->isVisible(); }, 2000);
}

bool StationHarness::chooseProduct(const QString &name)
{
    QTest::mouseClick(button("d415SettingsButton"), Qt::LeftButton);
    QDialog *settings = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("d415Settings"))
            settings = qobject_cast<QDialog *>(widget);
    }
    if (!settings || !QTest::qWaitForWindowExposed(settings))
        return false;
    auto *products = settings->findChild<QComboBox *>(QStringLiteral("productType"));
    const int index = products ? products->findText(name) : -1;
    if (index < 0)
        return false;
    products->setCurrentIndex(index);
    QTest::mouseClick(settings->findChild<QPushButton *>(QStringLiteral("closeButton")), Qt::LeftButton);
    return !settings->isVisible();
}

void StationHarness::addProduct(const QString &name)
{
    SqliteQuery query;
    query.open(QStringLiteral("data.db"));
    query.runQuery(QStringLiteral("CREATE TABLE IF NOT EXISTS product (idProduct INTEGER PRIMARY KEY, productName "
                                  "TEXT);"));
    query.runQuery(QStringLiteral("INSERT INTO product (idProduct, productName) values (NULL, %1);")
                       .arg(SqliteQuery::literal(name)));
}

QString StationHarness::recordedCell(const QString &statement)
{
    SqliteQuery query;
    query.open(QStringLiteral("data.db"));
    query.runQuery(statement);
    return query.cell(0, 0);
}

QString StationHarness::continueToTheEnd()
{
    if (!QTest::qWaitFor([&] { return button("continueButton")->isEnabled(); }, 10000))
        return QString();
    ModalAnswerer done(QStringLiteral("Ok"), 60000);
    QTest::mouseClick(button("continueButton"), Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return done.answered(); }, 60000))
        return QString();
    return done.boxText();
}

QStringList connectionTestRequests()
{
    return {QStringLiteral("44/1"), QStringLiteral("24/20"), QStringLiteral("24/19"), QStringLiteral("44/2"),
        QStringLiteral("44/0"), QStringLiteral("10/0"), QStringLiteral("12/0"), QStringLiteral("3/0")};
}

qsizetype indexOfRun(const QStringList &list, const QStringList &run, qsizetype from)
{
    for (qsizetype i = from; i + run.size() <= list.size(); ++i) {
        if (list.mid(i, run.size()) == run)
            return i;
    }
    return -1;
}
