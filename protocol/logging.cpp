#include "protocol/logging.h"

Q_LOGGING_CATEGORY(lcWire, "quorvel.wire", QtWarningMsg)
Q_LOGGING_CATEGORY(lcModule, "quorvel.module", QtWarningMsg)
