#include "d415states.h"

namespace D415States {

namespace {

// Index = error number. Empty entries carry no message: 0 stops without one, 6 and 7 are not acted on.
const char *const errorMessages[] = {
    "",
    "Ошибка данных в EEPROM калибровки или конфигурации",
    "Ошибка данных в EEPROM параметров работы или рецепта",
    "Ошибка, нет питания в силовых цепях",
    "Ошибка в номере компонента",
    "Ошибка, нестабильны показания датчика веса",
    "",
    "",
    "Ошибка, нет подачи продукта",
    "Ошибка, ГПУ не пустое (при попытке набора вес отличен от нуля)",
    "Ошибка, тайм-аут концевика открытия шиберной задвижки",
    "Ошибка, тайм-аут концевика закрытия шиберной задвижки",
    "Ошибка, уменьшение веса при наборе дозы",
    "Ошибка, не зафиксирована тара (при фиксации по команде)",
    "Ошибка, мало продукта)",
    "Ошибка, Низкое давление",
    "Ошибка, выход управляющего сигнала за диапазон 0 - 100%",
    "Ошибка, большой перерасход (жидкости)",
    "Ошибка, Низкая производительность (проходные весы)",
};

constexpr int messageCount = int(sizeof errorMessages / sizeof errorMessages[0]);

} // namespace

QString stateWord(quint8 stateFlags)
{
    if (stateFlags & FaultBit)
        return QStringLiteral("АВАРИЯ");
    if (stateFlags & WorkingBit)
        return QStringLiteral("РАБОТА");
    return QStringLiteral("ОСТАНОВ");
}

ErrorClass errorClass(quint8 errorCode)
{
    if (errorCode == 0)
        return ErrorClass::StopOnly;
    if (errorCode >= messageCount || errorMessages[errorCode][0] == '\0')
        return ErrorClass::Ignored;
    return ErrorClass::StopWithMessage;
}

QString errorMessage(quint8 errorCode)
{
    if (errorCode >= messageCount)
        return QString();
    return QString::fromUtf8(errorMessages[errorCode]);
}

} // namespace D415States
