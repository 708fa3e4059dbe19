#pragma once

#include <QCoreApplication>

// Runs the main-thread work a step queued, and the work that work queued in turn (hand-overs, wake-ups after
// cancels).
inline void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}
