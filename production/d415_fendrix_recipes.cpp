// Recipes: the recipe button in the window and the station's side of it. A recipe keeps the doser's working
// parameters (product, batch weight, tolerances, in the unit and decimals they were set in); loading one
// puts them into effect as the operator would type them, and every request gets exactly one answer.
#include "d415_fendrix.h"
#include "ui_d415_fendrix.h"

#include "d415device.h"
#include "d415settings.h"
#include "receiptbutton.h"
#include "receiptdialog.h"
#include "receiptparameters.h"
#include "sqlitestatement.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>

#include <cstdio>

namespace {

// A tolerance reply comes within the link's 150 ms reply time-out, or twice that for a request asked
// again; waiting longer only keeps the operator from seeing why nothing came.
constexpr int ToleranceReplyMs = 2000;
constexpr int ButtonHeight = 62;
constexpr int Gap = 5;

QString decimalsText(int decimals)
{
    return QStringLiteral("%1 зн. после запятой").arg(decimals);
}

} // namespace

// Under the doser panel and the batch controls, across both: the name of the current recipe stays in
// sight of "Начать задание". The window grows by the button's height; the designed arrangement stays.
void D415_Fendrix::placeReceiptButton()
{
    m_receiptButton = new ReceiptButton(this);
    m_receiptButton->setObjectName(QStringLiteral("receiptButton"));
    const QRect batchColumn = ui->exitButton->geometry();
    const int top = batchColumn.bottom() + 1 + Gap;
    m_receiptButton->setGeometry(0, top, batchColumn.right() + 1, ButtonHeight);
    setFixedSize(width(), top + ButtonHeight + Gap);
    keepOnScreen();
    m_receiptButton->receiptDialog()->createReceiptsStoreDir();

    ReceiptButton *button = m_receiptButton;
    connect(button, &ReceiptButton::receiptDialogOpened, button, &ReceiptButton::showReceiptDialog);
    connect(button, &ReceiptButton::createReceiptButtonClicked, button, &ReceiptButton::showCreateReceiptDialog);
    // The operator closing the manager needs no answer: nothing waits for it.
    connect(button, &ReceiptButton::receiptCanBeSaved, this, &D415_Fendrix::saveReceiptParameters);
    connect(button, &ReceiptButton::receiptCanBeRewrited, this, &D415_Fendrix::rewriteReceiptParameters);
    connect(button, &ReceiptButton::receiptCanBeLoaded, this, &D415_Fendrix::loadReceiptParameters);
}

// While a batch is open (running or stopped) its product, weight and tolerances are the batch's: a recipe
// may neither be loaded over them nor be rewritten from a batch half done. A new recipe may still be made.
void D415_Fendrix::applyReceiptLock(bool batchOpen)
{
    if (!m_receiptButton)
        return;
    if (batchOpen) {
        m_receiptButton->desableChangeLoadReceiptButtons();
        m_receiptButton->desableLoadReceiptButton();
    } else {
        m_receiptButton->enableChangeLoadReceiptButtons();
    }
}

void D415_Fendrix::saveReceiptParameters(const QString &path)
{
    QString why;
    ReceiptParameters parameters;
    if (currentReceiptParameters(&parameters, &why) && parameters.write(path, &why)) {
        m_receiptButton->receiptWasSaved();
        return;
    }
    // The recipe file was made by the save dialog: without its parameters it is no recipe, and the list
    // must not show it.
    QFile::remove(path);
    std::fprintf(stderr, "\nThe recipe %s is not saved: %s\n", qPrintable(path), qPrintable(why));
    m_receiptButton->receiptWasNotSaved();
    inform(QStringLiteral("Рецепт не сохранён: %1.").arg(why.toHtmlEscaped()));
}

void D415_Fendrix::rewriteReceiptParameters(const QString &path)
{
    QString why;
    ReceiptParameters parameters;
    const bool written
        = !batchBlocksReceipt(&why) && currentReceiptParameters(&parameters, &why) && parameters.write(path, &why);
    if (written) {
        m_receiptButton->receiptWasRewrited();
        return;
    }
    std::fprintf(stderr, "\nThe recipe %s is not rewritten: %s\n", qPrintable(path), qPrintable(why));
    m_receiptButton->receiptWasNotRewrited();
    inform(QStringLiteral("Рецепт не перезаписан: %1.").arg(why.toHtmlEscaped()));
}

void D415_Fendrix::loadReceiptParameters(const QString &path)
{
    QString why;
    QString notice;
    ReceiptParameters parameters;
    const bool loaded = !batchBlocksReceipt(&why) && parameters.read(path, &why) && receiptFitsDoser(parameters, &why)
        && applyReceiptParameters(parameters, &notice, &why);
    if (!loaded) {
        std::fprintf(stderr, "\nThe recipe %s is not loaded: %s\n", qPrintable(path), qPrintable(why));
        m_receiptButton->receiptWasNotLoaded();
        inform(QStringLiteral("Рецепт не загружен: %1.").arg(why.toHtmlEscaped()));
        return;
    }
    std::fprintf(stderr, "\nThe recipe %s is loaded\n", qPrintable(path));
    journalEvent(QStringLiteral("setting"),
        QStringLiteral("Рецепт %1: продукт %2, партия %3 %6, погрешность +%4 / -%5 %6")
            .arg(QFileInfo(path).fileName(), parameters.productName, parameters.taskWeight, parameters.doseFaultPlus,
                parameters.doseFaultMinus, parameters.weightUnit));
    m_receiptButton->receiptWasLoaded();
    if (!notice.isEmpty())
        inform(notice);
}

bool D415_Fendrix::batchBlocksReceipt(QString *why) const
{
    if (!isBatchOpen())
        return false;
    *why = QStringLiteral("задание не завершено");
    return true;
}

// What the panel shows now, in the doser's unit and decimals: a recipe is only worth keeping when it
// can be loaded again, so the product, the batch weight and the doser's format must be known.
bool D415_Fendrix::currentReceiptParameters(ReceiptParameters *parameters, QString *why)
{
    const DoserState &doser = doserState[0];
    if (d415[0]->productName().isEmpty() || doser.taskWeight <= 0) {
        *why = QStringLiteral("вид продукта и вес должны быть заданы");
        return false;
    }
    if (!receiptFormatKnown()) {
        *why = QStringLiteral("дозатор не сообщил единицу веса и формат числа (нет связи)");
        return false;
    }
    parameters->productName = d415[0]->productName();
    parameters->taskWeight = formatWeight(0, doser.taskWeight);
    parameters->doseFaultPlus = formatWeight(0, doser.doseFaultPlus);
    parameters->doseFaultMinus = formatWeight(0, doser.doseFaultMinus);
    parameters->weightUnit = doser.weightUnit;
    parameters->decimals = doser.decimals;
    return true;
}

// The connection test may still be on its way (the doser was just regained): its answers are waited for.
bool D415_Fendrix::receiptFormatKnown()
{
    constexpr int WaitMs = 2000;
    QElapsedTimer waited;
    waited.start();
    const DoserState &doser = doserState[0];
    auto known = [&] { return isOnline(0) && doser.scaleKnown && !doser.weightUnit.isEmpty(); };
    while (!known() && isOnline(0) && waited.elapsed() < WaitMs)
        pause(50);
    return known();
}

// Weights are numbers in the doser's unit and decimals: 120 set in kilograms is not 120 grams, and a
// tolerance of 0.5 cannot be set on a doser that counts whole units.
bool D415_Fendrix::receiptFitsDoser(const ReceiptParameters &parameters, QString *why)
{
    if (!receiptFormatKnown()) {
        *why = QStringLiteral("дозатор не сообщил единицу веса и формат числа (нет связи)");
        return false;
    }
    const DoserState &doser = doserState[0];
    if (parameters.weightUnit == doser.weightUnit && parameters.decimals == doser.decimals)
        return true;
    *why = QStringLiteral("рецепт записан в «%1», %2, а дозатор работает в «%3», %4")
               .arg(parameters.weightUnit, decimalsText(parameters.decimals), doser.weightUnit,
                   decimalsText(doser.decimals));
    return false;
}

// In the order in which a failure leaves least behind: the catalogue (the station's own), the tolerances
// (the doser, confirmed by reading them back), then the product and the batch weight on the panel.
bool D415_Fendrix::applyReceiptParameters(const ReceiptParameters &parameters, QString *notice, QString *why)
{
    bool added = false;
    if (!ensureCatalogueProduct(parameters.productName, &added, why))
        return false;
    if (!sendReceiptTolerance(true, parameters.doseFaultPlus, why)
        || !sendReceiptTolerance(false, parameters.doseFaultMinus, why))
        return false;
    getProductsNames();
    d415SettingsDialog->selectProductType(parameters.productName);
    changeD415Product(0, parameters.productName);
    setWeight(parameters.taskWeight, ui->productWeightD415_11->accessibleName());
    if (formatWeight(0, doserState[0].taskWeight) != parameters.taskWeight) {
        *why = QStringLiteral("вес партии %1 не принят").arg(parameters.taskWeight);
        return false;
    }
    if (added)
        *notice
            = QStringLiteral("Продукт «%1» добавлен в каталог продуктов.").arg(parameters.productName.toHtmlEscaped());
    return true;
}

bool D415_Fendrix::ensureCatalogueProduct(const QString &name, bool *added, QString *why)
{
    SqliteStatement find(m_query.connection(), QStringLiteral("SELECT 1 FROM product WHERE productName = ?"));
    find.bindText(1, name);
    const bool found = find.step();
    if (!find.failed() && found)
        return true;
    SqliteStatement insert(
        m_query.connection(), QStringLiteral("INSERT INTO product (idProduct, productName) VALUES (NULL, ?)"));
    insert.bindText(1, name);
    if (!find.failed() && insert.execute()) {
        std::fprintf(stderr, "\nThe product %s is added to the catalogue\n", qPrintable(name));
        product.fillTable();
        *added = true;
        return true;
    }
    *why = QStringLiteral("продукт «%1» не добавлен в каталог (%2)")
               .arg(name, find.failed() ? find.errorText() : insert.errorText());
    return false;
}

// Sent as the operator's entry in the tolerance field is sent, then read back: only the doser's answer to
// the read says that the value is in force. A failed reply is no answer, and the wait ends on a lost doser.
bool D415_Fendrix::sendReceiptTolerance(bool plus, const QString &value, QString *why)
{
    const QString sign = plus ? QStringLiteral("+") : QStringLiteral("-");
    if (!isOnline(0)) {
        *why = QStringLiteral("нет связи с дозатором");
        return false;
    }
    QString answer;
    const bool set = awaitTolerance(plus, &answer, [&] {
        if (plus)
            setDoseFaultPlus(value, ui->doseFaultPlusD415_11->accessibleName());
        else
            setDoseFaultMinus(value, ui->doseFaultMinusD415_11->accessibleName());
    });
    const bool read = set && awaitTolerance(plus, &answer, [&] {
        if (plus)
            requestDoseFaultPlus(0);
        else
            requestDoseFaultMinus(0);
    });
    if (!read) {
        *why = QStringLiteral("дозатор не подтвердил погрешность %1 %2").arg(sign, value);
        return false;
    }
    if (formatWeight(0, answer.toDouble()) != value) {
        *why = QStringLiteral("дозатор не принял погрешность %1 %2 (прочитано %3)").arg(sign, value, answer);
        return false;
    }
    return true;
}

// The answer must be to this request: a doser lost meanwhile may be regained before the wait ends (the
// loss is handled first, and its pause runs the probe and the connection test), and the connection
// test's own reading of the tolerance is no confirmation of this one.
bool D415_Fendrix::awaitTolerance(bool plus, QString *answer, const std::function<void()> &request)
{
    QEventLoop loop;
    bool replied = false;
    bool lost = false;
    const auto tolerance = plus ? &D415Device::hasGetDoseFaultPlusSignal : &D415Device::hasGetDoseFaultMinusSignal;
    const QMetaObject::Connection value = connect(d415[0], tolerance, &loop, [&](int, const QString &text) {
        if (replied || lost)
            return;
        replied = true;
        *answer = text;
        loop.quit();
    });
    const QMetaObject::Connection lostLine = connect(d415[0], &D415Device::hasConnectionErrorSignal, &loop, [&](int) {
        lost = true;
        loop.quit();
    });
    request();
    if (!replied && !lost && isOnline(0)) {
        QTimer::singleShot(ToleranceReplyMs, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    disconnect(value);
    disconnect(lostLine);
    return replied && !lost;
}
