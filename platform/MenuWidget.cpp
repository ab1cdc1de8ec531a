#include "platform/MenuWidget.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QStyleOptionMenuItem>
#include <QTimer>

namespace platform {

namespace {

constexpr unsigned modifierKeys =
    NSShiftKeyMask | NSControlKeyMask | NSAlternateKeyMask | NSCommandKeyMask;

// A tool tip as rich text with its lines kept: a carriage return (the model's line
// end) or a line feed starts a new line, trailing line ends are dropped, and the text
// is escaped so that a to-do's notes are never taken as markup.
QString toolTipHtml(const QString& tip) {
    QString text = tip;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    while (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    if (text.isEmpty())
        return QString();
    return QLatin1String("<p style=\"white-space:pre-wrap\">") + text.toHtmlEscaped() +
           QLatin1String("</p>");
}

// One icon per picture file for the whole process: a menu is made anew at every click,
// and reading and parsing a picture for every item would cost more than the rest of the
// menu. A file that changed on disk is read again.
QIcon iconForFile(const QString& path) {
    struct Cached {
        QDateTime modified;
        QIcon icon;
    };
    static QHash<QString, Cached> cache;
    const QDateTime modified = QFileInfo(path).lastModified();
    auto it = cache.find(path);
    if (it == cache.end() || it->modified != modified)
        it = cache.insert(path, Cached{modified, QIcon(path)});
    return it->icon;
}

// The modifier mask a key stands for, 0 for a key that is no modifier.
unsigned maskOfModifierKey(int key) {
    switch (key) {
    case Qt::Key_Shift:
        return NSShiftKeyMask;
    case Qt::Key_Control:
        return NSControlKeyMask;
    case Qt::Key_Alt:
        return NSAlternateKeyMask;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
        return NSCommandKeyMask;
    default:
        return 0;
    }
}

} // namespace

MenuWidget::MenuWidget(NSMenu& menu, QWidget* parent)
    : MenuWidget(menu, defaultMaximumItemsPerLevel, parent) {}

MenuWidget::~MenuWidget() = default;

MenuWidget::MenuWidget(NSMenu& menu, int maximumItemsPerLevel, QWidget* parent)
    : QMenu(parent), m_menu(menu), m_maximumItemsPerLevel(std::max(2, maximumItemsPerLevel)) {
    setToolTipsVisible(true);
    connect(this, &QMenu::triggered, this, &MenuWidget::actionTriggered);
    build();
}

unsigned MenuWidget::modifierMaskFromQt(Qt::KeyboardModifiers modifiers) {
    unsigned mask = 0;
    if (modifiers & Qt::ShiftModifier)
        mask |= NSShiftKeyMask;
    if (modifiers & Qt::ControlModifier)
        mask |= NSControlKeyMask;
    if (modifiers & Qt::AltModifier)
        mask |= NSAlternateKeyMask;
    if (modifiers & Qt::MetaModifier)
        mask |= NSCommandKeyMask;
    return mask;
}

void MenuWidget::reload() {
    build();
}

QAction* MenuWidget::actionForItem(const NSMenuItem* item) const {
    for (const Entry& entry : m_entries)
        if (entry.item.get() == item)
            return entry.action;
    return nullptr;
}

// A part of a long menu, filled when it is first opened. Its keys and colours are
// its owner's.
class MenuWidget::Part : public QMenu {
public:
    Part(MenuWidget* owner, std::size_t from, std::size_t to)
        : QMenu(owner), m_owner(owner), m_from(from), m_to(to) {
        setToolTipsVisible(true);
        connect(this, &QMenu::aboutToShow, this, &Part::fill);
        connect(this, &QMenu::triggered, owner, &MenuWidget::actionTriggered);
    }
    void fill() {
        if (m_filled)
            return;
        m_filled = true;
        for (std::size_t i = m_from; i < m_to; ++i)
            m_owner->addItemAction(this, i);
        m_owner->updateAlternates();
    }

protected:
    void initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const override {
        QMenu::initStyleOption(option, action);
        m_owner->applyColor(option, action);
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (m_owner->trackModifierKey(event, true))
            event->accept();
        else
            QMenu::keyPressEvent(event);
    }
    void keyReleaseEvent(QKeyEvent* event) override {
        if (m_owner->trackModifierKey(event, false))
            event->accept();
        else
            QMenu::keyReleaseEvent(event);
    }

private:
    MenuWidget* m_owner;
    std::size_t m_from;
    std::size_t m_to;
    bool m_filled = false;
};

void MenuWidget::setMaximumItemsPerLevel(int count) {
    m_maximumItemsPerLevel = std::max(2, count);
    build();
}

QList<QMenu*> MenuWidget::parts() const {
    QList<QMenu*> list;
    for (Part* part : m_parts)
        list.append(part);
    return list;
}

void MenuWidget::build() {
    clear();
    qDeleteAll(m_parts);
    m_parts.clear();
    m_entries.clear();
    m_colors.clear();
    m_icons.clear();

    const std::vector<NSMenuItemPtr>& items = m_menu.itemArray();
    const std::size_t count = items.size();
    m_entries.resize(count);
    int lastPrimary = -1;
    for (std::size_t i = 0; i < count; ++i) {
        Entry& entry = m_entries[i];
        entry.item = items[i];
        if (entry.item->isSeparatorItem())
            lastPrimary = -1;
        else if (entry.item->isAlternate() && lastPrimary >= 0)
            entry.primary = lastPrimary;
        else
            lastPrimary = static_cast<int>(i);
    }

    const auto limit = static_cast<std::size_t>(m_maximumItemsPerLevel);
    if (count <= limit) {
        for (std::size_t i = 0; i < count; ++i)
            addItemAction(this, i);
        updateAlternates();
        return;
    }
    // A very long menu shows its first items, then its middle in parts opened on demand,
    // then its last few items (the settings item below the last separator) as they are:
    // a menu of tens of thousands of items opens at once and stays navigable.
    std::size_t tailStart = count;
    for (std::size_t i = count; i-- > 0;)
        if (m_entries[i].item->isSeparatorItem()) {
            if (count - i <= 8)
                tailStart = i;
            break;
        }
    // An alternate stays with its primary item.
    const auto boundary = [&](std::size_t at) {
        while (at < tailStart && m_entries[at].primary >= 0)
            ++at;
        return at;
    };
    const std::size_t headEnd = boundary(std::min(limit, tailStart));
    for (std::size_t i = 0; i < headEnd; ++i)
        addItemAction(this, i);
    for (std::size_t from = headEnd; from < tailStart;) {
        const std::size_t to = boundary(std::min(from + limit, tailStart));
        auto* part = new Part(this, from, to);
        part->setTitle(partTitle(from, to));
        addMenu(part);
        m_parts.push_back(part);
        from = to;
    }
    for (std::size_t i = tailStart; i < count; ++i)
        addItemAction(this, i);
    updateAlternates();
}

QString MenuWidget::partTitle(std::size_t from, std::size_t to) const {
    // Named by its first and last titles, like the guide words of a dictionary page.
    const auto titleAt = [&](std::size_t i) {
        const NSMenuItem& item = *m_entries[i].item;
        QString title = item.attributedTitle() ? item.attributedTitle()->string() : item.title();
        title.replace(QLatin1Char('\r'), QLatin1Char(' '));
        title.replace(QLatin1Char('\n'), QLatin1Char(' '));
        if (title.size() > 24)
            title = title.left(title.at(23).isHighSurrogate() ? 23 : 24) + QChar(0x2026);
        return title.replace(QLatin1Char('&'), QLatin1String("&&"));
    };
    std::optional<std::size_t> first, last;
    for (std::size_t i = from; i < to; ++i)
        if (!m_entries[i].item->isSeparatorItem() && !m_entries[i].item->isAlternate()) {
            if (!first)
                first = i;
            last = i;
        }
    if (!first)
        return QStringLiteral("\u2026");
    return titleAt(*first) + QStringLiteral(" \u2013 ") + titleAt(*last);
}

QAction* MenuWidget::addItemAction(QMenu* into, std::size_t index) {
    Entry& entry = m_entries[index];
    const NSMenuItemPtr& item = entry.item;
    if (item->isSeparatorItem()) {
        entry.action = into->addSeparator();
        return entry.action;
    }
    const std::optional<NSAttributedString>& attributed = item->attributedTitle();
    QString title = attributed ? attributed->string() : item->title();
    // A menu takes "&" as the mark of a shortcut letter; a to-do's title is plain.
    title.replace(QLatin1Char('&'), QLatin1String("&&"));
    // Line breaks would make one item several lines high.
    title.replace(QLatin1Char('\r'), QLatin1Char(' '));
    title.replace(QLatin1Char('\n'), QLatin1Char(' '));
    QAction* action = into->addAction(title);
    if (attributed) {
        if (const std::optional<QFont> font = attributed->font())
            action->setFont(*font);
        if (const std::optional<QColor> color = attributed->foregroundColor())
            m_colors.insert(action, *color);
    }
    // Each picture is looked at once per build, whatever the number of items showing it.
    if (const NSImagePtr& image = item->image()) {
        auto icon = m_icons.find(image.get());
        if (icon == m_icons.end())
            icon = m_icons.insert(image.get(), iconForFile(image->path()));
        action->setIcon(*icon);
    }
    if (item->toolTip())
        action->setToolTip(toolTipHtml(*item->toolTip()));
    action->setEnabled(item->isEnabled());
    entry.action = action;
    return action;
}

void MenuWidget::setHeldModifierMask(unsigned mask) {
    mask &= modifierKeys;
    if (mask == m_heldMask)
        return;
    m_heldMask = mask;
    updateAlternates();
}

void MenuWidget::updateAlternates() {
    // A primary item gives way when any of its alternates matches the keys held.
    std::vector<bool> replaced(m_entries.size(), false);
    for (const Entry& entry : m_entries) {
        if (entry.primary < 0)
            continue;
        const bool shown = (entry.item->keyEquivalentModifierMask() & modifierKeys) == m_heldMask;
        if (shown)
            replaced[static_cast<std::size_t>(entry.primary)] = true;
        if (entry.action)
            entry.action->setVisible(shown);
    }
    // Items of parts not opened yet have no action.
    for (std::size_t i = 0; i < m_entries.size(); ++i)
        if (m_entries[i].action && !m_entries[i].item->isSeparatorItem() &&
            m_entries[i].primary < 0)
            m_entries[i].action->setVisible(!replaced[i]);
}

void MenuWidget::initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const {
    QMenu::initStyleOption(option, action);
    applyColor(option, action);
}

void MenuWidget::applyColor(QStyleOptionMenuItem* option, const QAction* action) const {
    const auto it = m_colors.constFind(action);
    if (it == m_colors.constEnd() || !action->isEnabled())
        return;
    // The disabled group keeps the style's grey; a highlighted item keeps the style's
    // highlighted text so that it stays legible on the highlight.
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
        for (const QPalette::ColorRole role :
             {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
            option->palette.setColor(group, role, *it);
}

bool MenuWidget::trackModifierKey(QKeyEvent* event, bool pressed) {
    const unsigned keyMask = maskOfModifierKey(event->key());
    unsigned held = modifierMaskFromQt(event->modifiers());
    if (keyMask) {
        // Whether the event's own key is counted in its modifiers differs between
        // platforms, so it is set or cleared from the event's kind.
        held = pressed ? (held | keyMask) : (held & ~keyMask);
    }
    setHeldModifierMask(held);
    return keyMask != 0;
}

void MenuWidget::keyPressEvent(QKeyEvent* event) {
    // A modifier key only switches alternates; a menu would otherwise close on Alt.
    if (trackModifierKey(event, true)) {
        event->accept();
        return;
    }
    QMenu::keyPressEvent(event);
}

void MenuWidget::keyReleaseEvent(QKeyEvent* event) {
    if (trackModifierKey(event, false)) {
        event->accept();
        return;
    }
    QMenu::keyReleaseEvent(event);
}

void MenuWidget::showEvent(QShowEvent* event) {
    setHeldModifierMask(modifierMaskFromQt(QGuiApplication::queryKeyboardModifiers()));
    QMenu::showEvent(event);
}

void MenuWidget::actionTriggered(QAction* action) {
    // A menu also reports the choices made in the parts it opened; each choice is taken
    // from the menu that holds the action, and only once.
    if (action->parent() != sender())
        return;
    for (const Entry& entry : m_entries) {
        if (entry.action != action)
            continue;
        if (!entry.item->action().isSet())
            return;
        // Run once the menu has closed and its event handling has returned, so that the
        // action may rebuild the model or open a window. The item and the call are held
        // by value: the widget may be gone by then.
        NSMenuItemPtr item = entry.item;
        QTimer::singleShot(0, QCoreApplication::instance(),
                           [item, call = item->action().call] { call(item.get()); });
        return;
    }
}

} // namespace platform
