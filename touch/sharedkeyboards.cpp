#include "sharedkeyboards.h"

#include <QCoreApplication>

namespace {

constexpr int OwnerCount = 3;
constexpr int TypeCount = 2;
Keyboard *keyboards[OwnerCount][TypeCount] = {};
bool cleanupRegistered = false;

// Runs while the application object is being destroyed, before its windows are torn down.
void deleteKeyboards()
{
    for (auto &owner : keyboards) {
        for (Keyboard *&keyboard : owner) {
            delete keyboard;
            keyboard = nullptr;
        }
    }
    cleanupRegistered = false;
}

bool validType(Keyboard::Type type)
{
    return type == Keyboard::NumericKeyboard || type == Keyboard::FullsizeKeyboard;
}

} // namespace

namespace SharedKeyboards {

Keyboard *existing(Owner owner, Keyboard::Type type)
{
    if (owner < LineEdits || owner > SwitchWidgets || !validType(type))
        return nullptr;
    return keyboards[owner][type];
}

Keyboard *keyboard(Owner owner, Keyboard::Type type)
{
    if (owner < LineEdits || owner > SwitchWidgets || !validType(type))
        return nullptr;
    Keyboard *&slot = keyboards[owner][type];
    if (!slot) {
        slot = Keyboard::createKeyboard(type, nullptr);
        if (!cleanupRegistered) {
            qAddPostRoutine(deleteKeyboards);
            cleanupRegistered = true;
        }
    }
    return slot;
}

} // namespace SharedKeyboards
