#pragma once

#include "platform/KeyEventTap.h"
#include "platform/UserDefaults.h"

// The key that plays Fn, kept in the settings under "fn_role_key" by its stable id.
namespace FnRoleKeyPreference {
inline const QString key = QStringLiteral("fn_role_key");

// The stored key, or the Menu key when nothing valid is stored.
FnRoleKey read(const UserDefaults &defaults);
void write(UserDefaults &defaults, FnRoleKey roleKey);
} // namespace FnRoleKeyPreference
