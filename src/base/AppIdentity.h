#pragma once

#include <QString>

namespace Voxle {
// The application id: names the log categories' subsystem and the secret-store service.
inline constexpr char kApplicationId[] = "app.voxle.desktop";
// The name of the per-user data folder (history database) and of the config folder.
inline constexpr char kApplicationName[] = "Voxle";

inline QString applicationId()
{
    return QString::fromLatin1(kApplicationId);
}
} // namespace Voxle
