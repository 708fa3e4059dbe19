#include "history/HistoryLogging.h"

#include "base/Logging.h"

Q_LOGGING_CATEGORY(lcHistory, "app.voxle.desktop.History", defaultLogThreshold())
