#pragma once

#include <QByteArray>
#include <QLoggingCategory>

// One category per component, each named "<application id>.<component>". Only warnings and errors are on by
// default, so a normal run's log carries no transcript, body, token or key; VOXLE_DEBUG=1 turns every level
// on, and QT_LOGGING_RULES (e.g. "app.voxle.desktop.RealtimeASR.info=true") picks single ones.
Q_DECLARE_LOGGING_CATEGORY(lcAudioCapture)
Q_DECLARE_LOGGING_CATEGORY(lcRealtimeASR)
Q_DECLARE_LOGGING_CATEGORY(lcNetworkApi)
Q_DECLARE_LOGGING_CATEGORY(lcAppState)
Q_DECLARE_LOGGING_CATEGORY(lcGlobalShortcuts)

// The lowest level a product category logs unless rules say otherwise: debug with VOXLE_DEBUG=1, else warning.
QtMsgType defaultLogThreshold();

// A trace line on standard output (the "[ParaformerWS] " and "[TextInjector] " lines), printed only while the
// category's info level is on.
void printTrace(const QLoggingCategory &category, const QByteArray &line);
