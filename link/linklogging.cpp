#include "linklogging.h"

Q_LOGGING_CATEGORY(lcLink, "doser.link", QtWarningMsg)
