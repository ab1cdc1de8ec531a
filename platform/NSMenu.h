#pragma once

// The platform's menu model: menus and items as a menu extra builds them, kept apart
// from how they are drawn (MenuWidget renders one into a QMenu) so that the model can
// be built, compared and printed without a display.

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

class NSMenu;
class NSMenuItem;

// An image known by the file it was made from. Immutable; shared between the menu
// extra that loaded it, the items that show it and the host.
class NSImage {
public:
    // Nothing when the file does not exist or is not a picture Qt can read.
    static std::shared_ptr<const NSImage> imageWithContentsOfFile(const QString& path);

    QString path() const { return m_path; }
    // The file's name without folder and extension ("graphiteStatusChecked").
    QString name() const { return m_name; }
    // The picture as an icon, made at the first call and kept with the image: a menu
    // made anew at every click finds its pictures read already. Main thread only.
    const QIcon& icon() const;

private:
    NSImage(QString path, QString name) : m_path(std::move(path)), m_name(std::move(name)) {}
    QString m_path;
    QString m_name;
    mutable std::optional<QIcon> m_icon;
};
using NSImagePtr = std::shared_ptr<const NSImage>;

// Attribute names of an attributed title: the font (a QFont) and the foreground colour
// (a QColor), stored as QVariant values.
inline const QString NSFontAttributeName = QStringLiteral("NSFont");
inline const QString NSForegroundColorAttributeName = QStringLiteral("NSColor");

class NSAttributedString {
public:
    NSAttributedString() = default;
    NSAttributedString(QString string, QVariantMap attributes)
        : m_string(std::move(string)), m_attributes(std::move(attributes)) {}

    const QString& string() const { return m_string; }
    const QVariantMap& attributes() const { return m_attributes; }
    std::optional<QFont> font() const;
    std::optional<QColor> foregroundColor() const;

private:
    QString m_string;
    QVariantMap m_attributes;
};

// The standard font of a menu on this desktop for 0; any other size is taken relative
// to a standard size of 14 points (12 gives 12/14 of the desktop's menu font), so a
// small font stays small at every screen scale and with every desktop font.
QFont menuBarFontOfSize(qreal points);

// Key-equivalent modifier flags, as bits of an item's modifier mask.
enum : unsigned {
    NSShiftKeyMask = 1u << 17,
    NSControlKeyMask = 1u << 18,
    NSAlternateKeyMask = 1u << 19, // Option (Alt)
    NSCommandKeyMask = 1u << 20,
};

// An item's action: the selector's name (for dumps and tests) and the call, bound to
// the item's target, that receives the chosen item as sender.
struct NSAction {
    QString selector; // "toDoMenuItemSelected:"
    std::function<void(NSMenuItem* sender)> call;
    bool isSet() const { return static_cast<bool>(call); }
};

class NSMenuItem {
public:
    NSMenuItem() = default;
    NSMenuItem(QString title, NSAction action, QString keyEquivalent);
    static std::shared_ptr<NSMenuItem> separatorItem();

    bool isSeparatorItem() const { return m_separator; }

    const QString& title() const { return m_title; }
    void setTitle(const QString& title) { m_title = title; }
    // Absent until set; the renderer falls back to the plain title.
    const std::optional<NSAttributedString>& attributedTitle() const { return m_attributedTitle; }
    void setAttributedTitle(const NSAttributedString& title) { m_attributedTitle = title; }

    const NSAction& action() const { return m_action; }
    void setAction(NSAction action) { m_action = std::move(action); }
    // Not owned; only compared (tests check that items target the menu extra).
    const void* target() const { return m_target; }
    void setTarget(const void* target) { m_target = target; }

    const QString& keyEquivalent() const { return m_keyEquivalent; }
    void setKeyEquivalent(const QString& key) { m_keyEquivalent = key; }
    unsigned keyEquivalentModifierMask() const { return m_modifierMask; }
    void setKeyEquivalentModifierMask(unsigned mask) { m_modifierMask = mask; }

    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }
    // Absent when none was set (an empty text is a tool tip too).
    const std::optional<QString>& toolTip() const { return m_toolTip; }
    void setToolTip(const QString& toolTip) { m_toolTip = toolTip; }
    const NSImagePtr& image() const { return m_image; }
    void setImage(NSImagePtr image) { m_image = std::move(image); }
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }
    // Shown in place of the item before it while the keys of its modifier mask are held.
    bool isAlternate() const { return m_alternate; }
    void setAlternate(bool alternate) { m_alternate = alternate; }
    // The item's actions one by one, for a rendering that receives no modifier keys (a
    // menu the desktop draws): it shows them as a sub-menu in the item's place. The
    // self-drawn menu ignores them and chooses by the keys held. Null when none.
    const std::shared_ptr<NSMenu>& choices() const { return m_choices; }
    void setChoices(std::shared_ptr<NSMenu> choices) { m_choices = std::move(choices); }

private:
    QString m_title;
    std::optional<NSAttributedString> m_attributedTitle;
    NSAction m_action;
    const void* m_target = nullptr;
    QString m_keyEquivalent;
    unsigned m_modifierMask = 0;
    int m_tag = 0;
    std::optional<QString> m_toolTip;
    NSImagePtr m_image;
    bool m_enabled = true;
    bool m_alternate = false;
    bool m_separator = false;
    std::shared_ptr<NSMenu> m_choices;
};
using NSMenuItemPtr = std::shared_ptr<NSMenuItem>;

class NSMenu {
public:
    explicit NSMenu(QString title = QString()) : m_title(std::move(title)) {}

    const QString& title() const { return m_title; }
    void setTitle(const QString& title) { m_title = title; }
    bool autoenablesItems() const { return m_autoenablesItems; }
    void setAutoenablesItems(bool on) { m_autoenablesItems = on; }

    const std::vector<NSMenuItemPtr>& itemArray() const { return m_items; }
    int numberOfItems() const { return static_cast<int>(m_items.size()); }
    NSMenuItemPtr itemAtIndex(int index) const;
    void addItem(NSMenuItemPtr item);
    // An index past the end appends.
    void insertItem(NSMenuItemPtr item, int index);
    void removeAllItems() { m_items.clear(); }

private:
    QString m_title;
    bool m_autoenablesItems = true;
    std::vector<NSMenuItemPtr> m_items;
};

// The plain-text dump of a menu, one line per item (title, state, image name, tag,
// alternate, tool-tip lines): what tests compare and the headless host prints.
QString dumpMenu(const NSMenu& menu);

// The name of a part of a long menu, items [from, to): its first and last titles, like
// the guide words of a dictionary page, each cut to 24 characters and line breaks made
// spaces; "…" for a part without titles. Separators, and alternates when told so, are
// passed over. Both renderings of the model name their parts so.
QString partOfMenuTitle(const std::vector<NSMenuItemPtr>& items, std::size_t from, std::size_t to,
                        bool skipAlternates);

} // namespace platform
