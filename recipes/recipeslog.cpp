#include "recipeslog.h"

#include <QObject>

Q_LOGGING_CATEGORY(lcRecipes, "doser.recipes", QtWarningMsg)

bool connectChecked(
    const QObject *sender, const char *signal, const QObject *receiver, const char *method, Qt::ConnectionType type)
{
    const bool connected = QObject::connect(sender, signal, receiver, method, type);
    // A unique connection that already exists is not a fault: the selection handler is re-attached so.
    if (!connected && !(type & Qt::UniqueConnection))
        qCWarning(lcRecipes, "cannot connect %s::%s to %s::%s", sender->metaObject()->className(), signal + 1,
            receiver->metaObject()->className(), method + 1);
    return connected;
}
