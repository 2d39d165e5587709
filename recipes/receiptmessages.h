#pragma once

#include <QString>

// The texts with which both recipe dialogs refuse a recipe name.
namespace ReceiptMessages {

inline QString emptyName()
{
    return QStringLiteral("Название рецепта не должно быть пустым");
}

inline QString nameExists(const QString &name)
{
    // The boxes show rich text: a name is shown as typed, not as markup.
    return QStringLiteral("Рецепт с названием \"") + name.toHtmlEscaped() + QStringLiteral("\" существует");
}

inline QString forbiddenCharacters()
{
    return QStringLiteral("Символы \\ / : * ? \" > | в названии рецепта не допустимы");
}

} // namespace ReceiptMessages
