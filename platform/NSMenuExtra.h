#pragma once

#include "platform/Bundle.h"
#include "platform/NSMenu.h"

#include <memory>
#include <optional>

namespace platform {

class NSMenuExtra;

// What the tray icon shows besides its picture; the host draws it.
struct NSMenuExtraStatus {
    int badgeCount = 0; // drawn on the icon when above 0
    // The picture drawn as a shape in the panel's text colour (a light or dark panel).
    bool symbolicImage = false;
    // The item asks for the user's attention (a host may make it stand out).
    bool needsAttention = false;
    std::optional<QString> toolTip; // absent: the host's own
    bool operator==(const NSMenuExtraStatus&) const = default;
};

// What a host (the menu-bar server) is told by the menu extra it shows. Called on the
// main thread.
class NSMenuExtraHost {
public:
    virtual ~NSMenuExtraHost() = default;
    // The menu-bar image or its alternate changed.
    virtual void menuExtraImagesChanged(NSMenuExtra* extra) = 0;
    // Show this menu now, as it is, at the pointer (the hot key's path).
    virtual void menuExtraPopUpMenu(NSMenuExtra* extra, NSMenu* menu) = 0;
    // The extra rebuilt its menu model (a click, a setting, a watched file): a rendering
    // kept between clicks (the menu the desktop draws) is built again from it.
    virtual void menuExtraMenuChanged(NSMenuExtra* extra, NSMenu* menu) {
        (void)extra;
        (void)menu;
    }
    // The badge, attention state or tool tip changed.
    virtual void menuExtraStatusChanged(NSMenuExtra* extra) { (void)extra; }
};

// The base class of a menu extra: a plug-in that a menu-bar host loads from its bundle
// and shows as one item of the desktop's tray. Main thread only.
class NSMenuExtra {
public:
    explicit NSMenuExtra(std::shared_ptr<const Bundle> bundle) : m_bundle(std::move(bundle)) {}
    virtual ~NSMenuExtra() = default;
    NSMenuExtra(const NSMenuExtra&) = delete;
    NSMenuExtra& operator=(const NSMenuExtra&) = delete;

    const std::shared_ptr<const Bundle>& bundle() const { return m_bundle; }

    // The menu to show at a click; the host calls it at every click. Null: no menu.
    virtual NSMenu* menu() { return nullptr; }
    // Asks the host to show the menu now; nothing without a host.
    void popUpMenu(NSMenu* menu) {
        if (m_host)
            m_host->menuExtraPopUpMenu(this, menu);
    }

    // Called by the extra after each rebuild of its menu model; tells the host.
    void menuDidChange(NSMenu* menu) {
        m_lastMenu = menu;
        if (m_host)
            m_host->menuExtraMenuChanged(this, menu);
    }
    // The model of the last rebuild the extra reported; null before the first.
    NSMenu* lastMenu() const { return m_lastMenu; }

    const NSMenuExtraStatus& status() const { return m_status; }
    // Tells the host only of a change.
    void setStatus(const NSMenuExtraStatus& status) {
        if (status == m_status)
            return;
        m_status = status;
        if (m_host)
            m_host->menuExtraStatusChanged(this);
    }

    const NSImagePtr& image() const { return m_image; }
    void setImage(NSImagePtr image);
    // Shown while the menu is open.
    const NSImagePtr& alternateImage() const { return m_alternateImage; }
    void setAlternateImage(NSImagePtr image);

    // Set by the host that shows this extra; null detaches it. Not owned.
    void setHost(NSMenuExtraHost* host) { m_host = host; }
    NSMenuExtraHost* host() const { return m_host; }

private:
    std::shared_ptr<const Bundle> m_bundle;
    NSImagePtr m_image;
    NSImagePtr m_alternateImage;
    NSMenuExtraHost* m_host = nullptr;
    NSMenu* m_lastMenu = nullptr;
    NSMenuExtraStatus m_status;
};

} // namespace platform
