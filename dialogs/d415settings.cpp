#include "d415settings.h"

#include "combotextrelay.h"

#include <QEvent>
#include <QLoggingCategory>
#include <QSettings>

#include <cstdio>

Q_LOGGING_CATEGORY(lcDoserSettings, "doser.dialogs", QtWarningMsg)

namespace {
const char *const doserNumberKey = "d415Id";
constexpr int defaultDoserNumber = 30;
constexpr int highestDoserNumber = 127; // the address on the line has seven bits
} // namespace

d415Settings::d415Settings(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
{
    setupUi(this);
    setModal(true);
    m_settings = std::make_unique<QSettings>(QStringLiteral("KESTU"), QStringLiteral("D415_Test"));

    // Entry i is address i; filled before anything is connected, so building the dialog announces nothing.
    for (int number = 0; number <= highestDoserNumber; ++number)
        d415Id->addItem(QString::number(number));

    adjustSize();
    setContextMenuPolicy(Qt::NoContextMenu);
    setAttribute(Qt::WA_DeleteOnClose, false);
    showReadOnlyFieldsAsText();

    // The address is stored before it is announced: the connection check that follows may take a while,
    // and a power cut during it must not cost the operator's choice.
    connect(d415Id, &QComboBox::currentIndexChanged, this, &d415Settings::saveDoserNumber);
    connect(d415Id, &QComboBox::currentIndexChanged, this, &d415Settings::d415IdChanged);
    connect(
        new ComboTextRelay(productType), &ComboTextRelay::currentIndexChanged, this, &d415Settings::productTypeChanged);
    connect(stopTestMode, &QPushButton::clicked, this, &d415Settings::stopTestModeClicked);
    connect(startTestMode, &QPushButton::clicked, this, &d415Settings::startTestModeClicked);
}

d415Settings::~d415Settings()
{
    std::fputs("~d415Settings()\n", stderr);
    saveDoserNumber();
}

void d415Settings::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    // The program sets its style and palette after the main window, and with it this dialog, is built.
    if (event->type() == QEvent::PaletteChange)
        showReadOnlyFieldsAsText();
}

void d415Settings::showReadOnlyFieldsAsText()
{
    const QPalette dialogPalette = palette();
    for (QLineEdit *field : {weightScale, weightNPV, digitScale, poVersion}) {
        QPalette fieldPalette = field->palette();
        for (int group = 0; group < QPalette::NColorGroups; ++group) {
            const auto colorGroup = static_cast<QPalette::ColorGroup>(group);
            fieldPalette.setColor(colorGroup, QPalette::Base, dialogPalette.color(colorGroup, QPalette::Window));
        }
        field->setPalette(fieldPalette);
    }
}

int d415Settings::storedDoserNumber() const
{
    bool isNumber = false;
    const int number = m_settings->value(doserNumberKey, QString::number(defaultDoserNumber)).toInt(&isNumber);
    // Known only once the file has been read. A damaged file is read as far as it goes; the next save
    // writes it anew.
    if (m_settings->status() == QSettings::FormatError)
        qCWarning(lcDoserSettings) << "the settings file" << m_settings->fileName() << "is damaged";
    if (isNumber && number >= 0 && number <= highestDoserNumber)
        return number;
    // A damaged settings file must not leave the station without a doser address.
    qCDebug(lcDoserSettings) << "stored doser number" << m_settings->value(doserNumberKey) << "is not an address, using"
                             << defaultDoserNumber;
    return defaultDoserNumber;
}

void d415Settings::restoreDoserNumber()
{
    const int number = storedDoserNumber();
    // The list starts at address 0, so a stored 0 changes no index; it is announced all the same, or the
    // main window would go on talking to its own default address while the dialog shows 0.
    if (d415Id->currentIndex() == number)
        emit d415IdChanged(number);
    else
        d415Id->setCurrentIndex(number);
}

void d415Settings::saveDoserNumber()
{
    m_settings->setValue(doserNumberKey, d415Id->currentIndex());
    m_settings->sync();
    // Only a write that failed: a file that was damaged when read is written anew all the same. The choice
    // then holds until the program ends, and the log has to say why it is gone at the next start.
    if (m_settings->status() == QSettings::AccessError)
        qCWarning(lcDoserSettings) << "could not write the doser number to" << m_settings->fileName();
}

void d415Settings::clearFields()
{
    for (QLineEdit *field : {weightScale, weightNPV, digitScale, poVersion})
        field->clear();
    clearInfo();
}

void d415Settings::clearInfo()
{
    d415Info->clear();
}

void d415Settings::setWeightScale(const QString &text)
{
    weightScale->setText(text);
}

void d415Settings::setWeightNPV(const QString &text)
{
    weightNPV->setText(text);
}

void d415Settings::setDigitScale(const QString &text)
{
    digitScale->setText(text);
}

void d415Settings::setPoVersion(const QString &text)
{
    poVersion->setText(text);
}

void d415Settings::selectProductType(const QString &name)
{
    productType->setCurrentIndex(productType->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

void d415Settings::lockDoserChoice(bool locked)
{
    d415Id->setDisabled(locked);
    startTestMode->setDisabled(locked);
}

void d415Settings::setErrorMessage(const QString &text)
{
    d415Info->setText(text);
}

void d415Settings::addProductType(const QString &name)
{
    productType->addItem(name);
}

void d415Settings::dellAllProductTypes()
{
    productType->clear();
}

void d415Settings::setStartIndex()
{
    productType->setCurrentIndex(-1);
}

void d415Settings::disableProductType(bool disabled)
{
    productType->setDisabled(disabled);
}

void d415Settings::productTypeChanged(const QString &name)
{
    emit d415ProductChanged(currentDoserSlot(), name);
}
