#pragma once

#include "platform/WindowKeyTranslator.h"

class Clock;
class Pasteboard;
class SettingsOpener;
class UserDefaults;
class VoxleAccount;
class VoxleAppState;
class VoxleHistoryStore;

// What the main window's pages read and call, built by the application and passed in.
struct VoxleViewServices {
    VoxleAppState &state;
    VoxleAccount &account;
    VoxleHistoryStore &history;
    Clock &clock;
    SettingsOpener &settings;
    Pasteboard &pasteboard;
    UserDefaults &defaults;
    WindowKeyTranslator::Factory keyTranslators;
};
