#include "history/HistoryLogging.h"

Q_LOGGING_CATEGORY(lcHistory, "app.voxle.desktop.History")
