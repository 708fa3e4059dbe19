#include "backend/BackendEndpoints.h"

void installBackendEndpoints(HttpFront &, RecognitionEngine &, const QStringList &) {}
