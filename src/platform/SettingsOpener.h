#pragma once

// Opens the desktop's own settings where the user grants one of the three permissions.
class SettingsOpener
{
public:
    enum class Pane { microphone, inputMonitoring, accessibility };

    virtual ~SettingsOpener() = default;
    // Fire-and-forget; a desktop without a matching settings panel does nothing (and says so in the log).
    virtual void open(Pane pane) = 0;
};
