#include "csvsavedialog.h"

#include "lineeditembedded.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

#include <cstdio>

namespace {
constexpr int TouchRowHeight = 48;
const QString Suffix = QStringLiteral(".csv");
} // namespace

CsvSaveDialog::CsvSaveDialog(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint)
{
    setWindowTitle(QStringLiteral("Сохранить"));
    setModal(true);
    buildLayout();
    m_resultBox = new QMessageBox(this);
    m_resultBox->setTextFormat(Qt::PlainText);
    m_resultBox->addButton(QStringLiteral("Ok"), QMessageBox::AcceptRole);
}

void CsvSaveDialog::buildLayout()
{
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Папка:"), this));
    m_folders = new QListWidget(this);
    m_folders->setObjectName(QStringLiteral("folderList"));
    m_folders->setMinimumSize(520, 3 * TouchRowHeight);
    layout->addWidget(m_folders);
    layout->addWidget(new QLabel(QStringLiteral("Имя файла (коснитесь, чтобы изменить):"), this));
    m_name = new LineEditEmbedded(this);
    m_name->setObjectName(QStringLiteral("fileNameEdit"));
    m_name->setKeyboardType(Keyboard::FullsizeKeyboard);
    m_name->setDescription(QStringLiteral("Имя файла"));
    m_name->setMinimumHeight(TouchRowHeight);
    layout->addWidget(m_name);
    connect(m_name, &LineEditEmbedded::textEdited, this, &CsvSaveDialog::nameEntered);

    auto *buttons = new QHBoxLayout;
    m_save = new QPushButton(QStringLiteral("Сохранить"), this);
    m_save->setObjectName(QStringLiteral("saveButton"));
    auto *cancel = new QPushButton(QStringLiteral("Отмена"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    for (QPushButton *button : {m_save, cancel}) {
        button->setMinimumHeight(TouchRowHeight);
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    layout->addLayout(buttons);
    connect(m_save, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QStringList CsvSaveDialog::offeredFolders(const QStringList &mediaRoots)
{
    QStringList folders;
    // A stick is mounted two levels below a media root: the user, then the stick's label.
    for (const QString &root : mediaRoots) {
        const QFileInfoList users = QDir(root).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo &user : users) {
            const QFileInfoList mounts
                = QDir(user.filePath()).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
            for (const QFileInfo &mount : mounts)
                folders.append(mount.filePath());
        }
    }
    for (const QString &local : {QDir::currentPath(), QDir::homePath()}) {
        if (!folders.contains(local))
            folders.append(local);
    }
    return folders;
}

QString CsvSaveDialog::quotedField(QString text)
{
    text.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString CsvSaveDialog::withCsvSuffix(const QString &name)
{
    const QString trimmed = name.trimmed();
    return trimmed.endsWith(Suffix, Qt::CaseInsensitive) ? trimmed : trimmed + Suffix;
}

bool CsvSaveDialog::writeFile(const QString &path, const QByteArray &bytes, QString *error)
{
    // A device (a printer's port, /dev/null) takes the bytes as they are: it cannot be renamed over.
    const QFileInfo target(path);
    if (target.exists() && !target.isFile() && !target.isDir())
        return writeDirectly(path, bytes, error);
    // QSaveFile writes a temporary file in the target's folder, flushes it to disk at commit() and only
    // then renames it over the target; a cancelled write removes the temporary file and leaves the target.
    // Unbuffered, and every write checked: Qt 6.4's commit() renames a file whose buffered flush failed (a
    // full disk, a file size limit) as if it were whole. A short write is written on until the system
    // refuses, so that its reason ("No space left on device") reaches the operator.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *error = file.errorString();
        return false;
    }
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 written = file.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0) {
            *error = file.errorString();
            file.cancelWriting();
            return false;
        }
        done += written;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

bool CsvSaveDialog::writeDirectly(const QString &path, const QByteArray &bytes, QString *error)
{
    QFile file(path);
    // Unbuffered, so that a full device shows up in write() and not in a close() nobody checks.
    bool written = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && file.write(bytes) == bytes.size();
    if (written)
        file.close();
    written = written && file.error() == QFileDevice::NoError;
    if (!written)
        *error = file.errorString();
    return written;
}

QString CsvSaveDialog::chosenPath() const
{
    const QListWidgetItem *folder = m_folders->currentItem();
    if (!folder || m_name->text().trimmed().isEmpty())
        return QString();
    return QDir(folder->text()).filePath(withCsvSuffix(m_name->text()));
}

void CsvSaveDialog::nameEntered(const QString &name)
{
    // The on-screen keyboard's line break or a slash would name a file elsewhere than the folder shown.
    QString cleaned = name.simplified();
    cleaned.remove(QLatin1Char('/'));
    m_name->setText(cleaned);
    refreshSaveButton();
}

void CsvSaveDialog::refreshSaveButton()
{
    m_save->setEnabled(!chosenPath().isEmpty());
}

QString CsvSaveDialog::saveAs(const QString &fileName, const std::function<QByteArray()> &contents)
{
    m_folders->clear();
    for (const QString &folder : offeredFolders()) {
        auto *item = new QListWidgetItem(folder, m_folders);
        item->setSizeHint(QSize(0, TouchRowHeight));
    }
    m_folders->setCurrentRow(0);
    m_name->setText(fileName);
    refreshSaveButton();
    if (exec() != QDialog::Accepted)
        return QString();
    const QString path = chosenPath();
    if (path.isEmpty())
        return QString();
    QString error;
    if (!writeFile(path, contents(), &error)) {
        std::fprintf(stderr, "\nCan't write the file %s: %s\n", path.toUtf8().constData(), error.toUtf8().constData());
        tell(QStringLiteral("Не удалось записать файл\n%1\n\n%2").arg(path, error));
        return QString();
    }
    tell(QStringLiteral("Файл записан:\n%1").arg(path));
    return path;
}

void CsvSaveDialog::tell(const QString &text)
{
    m_resultBox->setWindowTitle(QStringLiteral("Сообщение"));
    m_resultBox->setText(text);
    m_resultBox->exec();
}
