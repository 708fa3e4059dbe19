#include "hotkeys/HotkeyHost.h"

QString statusLabel(HotkeyHost::DictationStatus status)
{
    switch (status) {
    case HotkeyHost::DictationStatus::idle:
        return QStringLiteral("空闲");
    case HotkeyHost::DictationStatus::recording:
        return QStringLiteral("录音中");
    case HotkeyHost::DictationStatus::processing:
        return QStringLiteral("处理中");
    case HotkeyHost::DictationStatus::error:
        return QStringLiteral("错误");
    }
    return QString();
}
