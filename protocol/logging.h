#pragma once

#include <QLoggingCategory>

// Developer traces; off unless enabled, e.g. QT_LOGGING_RULES="quorvel.*.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcWire)   // bytes on the line
Q_DECLARE_LOGGING_CATEGORY(lcModule) // values the module reported or is about to be sent
