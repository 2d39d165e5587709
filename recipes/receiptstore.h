#pragma once

#include <QDir>
#include <QString>
#include <QStringList>

// The recipe store: one SQLite file per recipe, named after the recipe, in one store directory.
// The recipe classes own only the description table of a file; the host's working-parameter tables
// live beside it in the same file. Every operation opens, uses and closes its own connection.
namespace ReceiptStore {

/// Organisation and application folder of the per-user data location, the names under which the
/// workstation also keeps its settings.
inline constexpr char organisationFolder[] = "KESTU";
inline constexpr char applicationFolder[] = "D415_Test";

/// Chooses the store directory and creates it: programs/ in the per-user data folder of the
/// workstation first, programs/ in the working directory when that cannot be made.
void createStoreDir();
/// The store directory with its trailing separator; empty until createStoreDir() has run, so that
/// full paths are then bare file names in the working directory.
QString storePath();
QDir storeDirectory();
/// Store path + name + ".db".
QString fullPath(const QString &name);

/// Recipe names in ascending order: the regular files "*.db" of the store, hidden ones included.
QStringList receiptNames();
/// Whether a file called name + ".db" is in the store, letter case ignored: recipe names that differ
/// only in case would collide on a case-insensitive file system, so one store never holds both.
bool fileExists(const QString &name);
/// Whether the name holds one of \ / : * ? < > | or the double quote.
bool hasForbiddenCharacter(const QString &name);

/// Creates the recipe file with its description table and one description row. Returns false when the
/// file could not be made or written; a file left half made by the attempt is removed again, so that
/// the name stays free and no recipe without its description row is listed.
bool createReceipt(const QString &name, const QString &description);
/// The stored description, or emptyDescription when the file, the table or the row is missing.
QString readDescription(const QString &name, const QString &emptyDescription);
/// Replaces the description; a recipe whose file is gone is left alone.
void updateDescription(const QString &name, const QString &description);
/// Renames the recipe's file; false when the source is missing, another file of the store already has
/// the new name (letter case ignored) or the file system refuses.
bool renameReceipt(const QString &oldName, const QString &newName);
/// Removes the recipe's file; a file that is already gone is not an error.
void removeReceipt(const QString &name);

} // namespace ReceiptStore
