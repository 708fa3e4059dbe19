#include "backend/BackendEndpoints.h"

#include "HttpFront.h"
#include "backend/BackendService.h"

void installBackendEndpoints(HttpFront &front, RecognitionEngine &engine, const QStringList &args)
{
    // Lives as long as the front.
    new BackendService(front, engine, args, &front);
}
