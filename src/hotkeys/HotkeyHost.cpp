#include "hotkeys/HotkeyHost.h"

QString statusLabel(HotkeyHost::Status status)
{
    switch (status) {
    case HotkeyHost::Status::idle:
        return QStringLiteral("空闲");
    case HotkeyHost::Status::recording:
        return QStringLiteral("录音中");
    case HotkeyHost::Status::processing:
        return QStringLiteral("处理中");
    case HotkeyHost::Status::error:
        return QStringLiteral("错误");
    }
    return QString();
}
