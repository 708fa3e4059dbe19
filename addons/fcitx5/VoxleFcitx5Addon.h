#pragma once

#include <fcitx-utils/dbus/objectvtable.h>
#include <fcitx-utils/handlertable.h>
#include <fcitx-utils/trackableobject.h>
#include <fcitx/addonfactory.h>
#include <fcitx/addoninstance.h>
#include <fcitx/inputcontext.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

struct wl_display;

namespace fcitx {
class AddonManager;
class Instance;
} // namespace fcitx

// Commits dictated text into the input context that has the focus right now, and shows live text there as
// preedit, for a program on the session bus. Never touches a password field. The user's engine stays active:
// a composition in progress is kept and the text goes in before it (fcitx5 inserts a commit at the caret and
// leaves the client's preedit standing).
class VoxleFcitx5Addon final : public fcitx::AddonInstance
{
public:
    explicit VoxleFcitx5Addon(fcitx::AddonManager *manager);
    ~VoxleFcitx5Addon() override;

    // (focused, password, program): the context that has the focus now, if any.
    std::tuple<bool, bool, std::string> focusState();
    // "committed", or why not: "no-focus", "password".
    std::string commit(const std::string &text);
    // "shown", or why not: "no-focus", "password", "composing" (the user's own preedit is open),
    // "unsupported" (the client draws no preedit).
    std::string setPreedit(const std::string &text);
    // Removes the live text where it was shown.
    void clearPreedit();

private:
    fcitx::InputContext *focusedContext() const;
    static bool isPassword(const fcitx::InputContext &ic);
    void clearOwnPreedit();
    void flush();

    class Service : public fcitx::dbus::ObjectVTable<Service>
    {
    public:
        explicit Service(VoxleFcitx5Addon &addon) : m_addon(addon) {}

    private:
        std::tuple<bool, bool, std::string> focusState() { return m_addon.focusState(); }
        std::string commit(const std::string &text) { return m_addon.commit(text); }
        std::string setPreedit(const std::string &text) { return m_addon.setPreedit(text); }
        void clearPreedit() { m_addon.clearPreedit(); }

        VoxleFcitx5Addon &m_addon;
        FCITX_OBJECT_VTABLE_METHOD(focusState, "FocusState", "", "bbs");
        FCITX_OBJECT_VTABLE_METHOD(commit, "Commit", "s", "s");
        FCITX_OBJECT_VTABLE_METHOD(setPreedit, "SetPreedit", "s", "s");
        FCITX_OBJECT_VTABLE_METHOD(clearPreedit, "ClearPreedit", "", "");
    };

    fcitx::Instance *m_instance;
    Service m_service;
    // Where the live text is shown and what it is, so that it is removed only where and while it is ours.
    fcitx::TrackableObjectReference<fcitx::InputContext> m_preeditContext;
    std::string m_preeditText;
#ifdef VOXLE_FCITX5_WAYLAND
    std::unique_ptr<fcitx::HandlerTableEntryBase> m_waylandCreated;
    std::unique_ptr<fcitx::HandlerTableEntryBase> m_waylandClosed;
    std::vector<wl_display *> m_waylandDisplays;
#endif
};

class VoxleFcitx5AddonFactory final : public fcitx::AddonFactory
{
public:
    fcitx::AddonInstance *create(fcitx::AddonManager *manager) override;
};
