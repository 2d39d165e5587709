#pragma once

#include <QLoggingCategory>

// Frame dumps and port details for commissioning a line; off unless QT_LOGGING_RULES="doser.link.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcLink)
