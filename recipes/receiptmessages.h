#pragma once

#include <QString>

// The texts with which the recipe dialogs refuse a recipe name or report that it could not be saved.
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

inline QString notCreated(const QString &name)
{
    // The reason (SQLite's or the file system's) is in the log line of the failed step.
    return QStringLiteral("Не удалось создать файл рецепта \"") + name.toHtmlEscaped() + QStringLiteral("\"");
}

inline QString forbiddenCharacters()
{
    return QStringLiteral("Символы \\ / : * ? \" > | в названии рецепта не допустимы");
}

} // namespace ReceiptMessages
