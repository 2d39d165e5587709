#pragma once

#include <QLoggingCategory>

class QObject;

// Diagnostics of the recipe classes beyond their log lines: only warnings of faults in the program
// itself; more can be switched on with QT_LOGGING_RULES="doser.recipes.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcRecipes)

/// A signature-string connection whose failure (a misspelt signature is found only at run time) is
/// reported instead of silently leaving a button dead. Returns whether the connection was made.
bool connectChecked(const QObject *sender, const char *signal, const QObject *receiver, const char *method,
    Qt::ConnectionType type = Qt::AutoConnection);
