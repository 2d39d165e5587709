#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>

class LineEditEmbedded;
class QListWidget;
class QMessageBox;
class QPushButton;

/// Where a table is saved, chosen by touch alone: the folders offered as a list (removable media first,
/// where mounted, then the working folder and the home folder), the file name proposed and changed on the
/// on-screen keyboard. ".csv" is added when the name lacks it, and a message names the file written, or
/// says why none was.
///
/// The file is written beside its target and renamed into place once it is whole on disk, so that a full
/// disk or a pulled stick never leaves a truncated file, nor destroys an older export of the same name.
class CsvSaveDialog : public QDialog
{
    Q_OBJECT
public:
    explicit CsvSaveDialog(QWidget *parent = nullptr);

    /// Offers the folders anew and @p fileName as the name, then asks; the file is written with the bytes
    /// @p contents gives. The path written, or empty when the operator cancelled or the write failed.
    QString saveAs(const QString &fileName, const std::function<QByteArray()> &contents);

    /// Mount points two levels below @p mediaRoots (user, then label), then the working and home folders.
    static QStringList offeredFolders(
        const QStringList &mediaRoots = {QStringLiteral("/media"), QStringLiteral("/run/media")});
    /// A CSV field: between double quotes, with a double quote of the text doubled, so that a product
    /// called «Мука "Экстра"» stays one field in every spreadsheet.
    static QString quotedField(QString text);
    /// @p name with ".csv" added unless it ends so already (in any case of letters).
    static QString withCsvSuffix(const QString &name);
    /// Writes through a temporary file in the same folder, flushed to disk, then renamed over @p path.
    static bool writeFile(const QString &path, const QByteArray &bytes, QString *error);

    /// The file the dialog would write now: the chosen folder and the name with its suffix.
    QString chosenPath() const;

private:
    static bool writeDirectly(const QString &path, const QByteArray &bytes, QString *error);
    void buildLayout();
    void nameEntered(const QString &name);
    void refreshSaveButton();
    void tell(const QString &text);

    QListWidget *m_folders = nullptr;
    LineEditEmbedded *m_name = nullptr;
    QPushButton *m_save = nullptr;
    QMessageBox *m_resultBox = nullptr;
};
