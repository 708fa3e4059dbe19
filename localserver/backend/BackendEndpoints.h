#pragma once

#include <QStringList>

class HttpFront;
class RecognitionEngine;

// The product backend's endpoints on the stand-in's front.
void installBackendEndpoints(HttpFront &front, RecognitionEngine &engine, const QStringList &args);
