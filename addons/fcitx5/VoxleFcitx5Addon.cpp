#include "VoxleFcitx5Addon.h"

#include <fcitx-module/dbus/dbus_public.h>
#include <fcitx-utils/capabilityflags.h>
#include <fcitx-utils/dbus/bus.h>
#include <fcitx-utils/log.h>
#include <fcitx/addonmanager.h>
#include <fcitx/inputpanel.h>
#include <fcitx/instance.h>
#include <fcitx/text.h>

#ifdef VOXLE_FCITX5_WAYLAND
#include <algorithm>
#include <fcitx-module/wayland/wayland_public.h>
#include <wayland-client.h>
#endif

namespace {
constexpr char kObjectPath[] = "/voxle";
constexpr char kInterface[] = "app.voxle.InputMethod1";
} // namespace

VoxleFcitx5Addon::VoxleFcitx5Addon(fcitx::AddonManager *manager) : m_instance(manager->instance()), m_service(*this)
{
    auto *dbus = manager->addon("dbus", true);
    if (!dbus) {
        FCITX_ERROR() << "voxle: the dbus module is missing; dictation cannot reach fcitx5";
        return;
    }
    auto *bus = dbus->call<fcitx::IDBusModule::bus>();
    if (!bus || !bus->addObjectVTable(kObjectPath, kInterface, m_service))
        FCITX_ERROR() << "voxle: could not export " << kObjectPath;

#ifdef VOXLE_FCITX5_WAYLAND
    if (auto *wayland = manager->addon("wayland", true)) {
        m_waylandCreated = wayland->call<fcitx::IWaylandModule::addConnectionCreatedCallback>(
            [this](const std::string &, wl_display *display, fcitx::FocusGroup *) {
                m_waylandDisplays.push_back(display);
            });
        m_waylandClosed = wayland->call<fcitx::IWaylandModule::addConnectionClosedCallback>(
            [this](const std::string &, wl_display *display) { std::erase(m_waylandDisplays, display); });
    }
#endif
}

VoxleFcitx5Addon::~VoxleFcitx5Addon() = default;

fcitx::InputContext *VoxleFcitx5Addon::focusedContext() const
{
    // Only a context that has the focus at this moment, never one the user has left: fcitx5 answers the last
    // focused context while it still has the focus, and none after it lost it.
    fcitx::InputContext *ic = m_instance->lastFocusedInputContext();
    return ic && ic->hasFocus() ? ic : nullptr;
}

bool VoxleFcitx5Addon::isPassword(const fcitx::InputContext &ic)
{
    return ic.capabilityFlags().testAny(fcitx::CapabilityFlag::PasswordOrSensitive);
}

std::tuple<bool, bool, std::string> VoxleFcitx5Addon::focusState()
{
    fcitx::InputContext *ic = focusedContext();
    if (!ic)
        return {false, false, std::string()};
    return {true, isPassword(*ic), ic->program()};
}

std::string VoxleFcitx5Addon::commit(const std::string &text)
{
    fcitx::InputContext *ic = focusedContext();
    if (!ic) {
        clearOwnPreedit();
        return "no-focus";
    }
    if (isPassword(*ic)) {
        clearOwnPreedit();
        return "password";
    }
    // The final text takes the place of the live text; a composition of the user's own stays where it is.
    clearOwnPreedit();
    ic->commitString(text);
    flush();
    return "committed";
}

std::string VoxleFcitx5Addon::setPreedit(const std::string &text)
{
    fcitx::InputContext *ic = focusedContext();
    if (ic != m_preeditContext.get())
        clearOwnPreedit();
    if (!ic)
        return "no-focus";
    if (isPassword(*ic))
        return "password";
    if (!ic->capabilityFlags().test(fcitx::CapabilityFlag::Preedit))
        return "unsupported";
    auto &panel = ic->inputPanel();
    if (!panel.clientPreedit().empty() && panel.clientPreedit().toString() != m_preeditText)
        return "composing";

    fcitx::Text preedit;
    if (!text.empty())
        preedit.append(text, fcitx::TextFormatFlag::Underline);
    preedit.setCursor(static_cast<int>(text.size()));
    panel.setClientPreedit(preedit);
    ic->updatePreedit();
    flush();
    m_preeditContext = ic->watch();
    m_preeditText = text;
    return "shown";
}

void VoxleFcitx5Addon::clearPreedit()
{
    clearOwnPreedit();
    flush();
}

void VoxleFcitx5Addon::clearOwnPreedit()
{
    fcitx::InputContext *ic = m_preeditContext.get();
    const std::string ours = m_preeditText;
    m_preeditContext.unwatch();
    m_preeditText.clear();
    // The user may have started a composition of their own over it since: that one stays.
    if (!ic || ic->inputPanel().clientPreedit().toString() != ours)
        return;
    ic->inputPanel().setClientPreedit(fcitx::Text());
    ic->updatePreedit();
}

void VoxleFcitx5Addon::flush()
{
#ifdef VOXLE_FCITX5_WAYLAND
    for (wl_display *display : m_waylandDisplays)
        wl_display_flush(display);
#endif
}

fcitx::AddonInstance *VoxleFcitx5AddonFactory::create(fcitx::AddonManager *manager)
{
    // fcitx5's add-on manager takes ownership of what its factory returns.
    return new VoxleFcitx5Addon(manager);
}

FCITX_ADDON_FACTORY(VoxleFcitx5AddonFactory)
