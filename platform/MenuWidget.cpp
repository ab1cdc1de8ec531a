#include "platform/MenuWidget.h"

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

MenuWidget::MenuWidget(NSMenu& menu, QWidget* parent) : QMenu(parent), m_menu(menu) {
    setToolTipsVisible(true);
    connect(this, &QMenu::triggered, this, &MenuWidget::actionTriggered);
    build();
}

MenuWidget::~MenuWidget() = default;

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

void MenuWidget::build() {
    clear();
    m_entries.clear();
    m_colors.clear();
    m_entries.reserve(m_menu.itemArray().size());
    int lastPrimary = -1;
    for (const NSMenuItemPtr& item : m_menu.itemArray()) {
        Entry entry;
        entry.item = item;
        if (item->isSeparatorItem()) {
            entry.action = addSeparator();
            lastPrimary = -1;
            m_entries.push_back(std::move(entry));
            continue;
        }
        const std::optional<NSAttributedString>& attributed = item->attributedTitle();
        QString title = attributed ? attributed->string() : item->title();
        // A menu takes "&" as the mark of a shortcut letter; a to-do's title is plain.
        title.replace(QLatin1Char('&'), QLatin1String("&&"));
        // Line breaks would make one item several lines high.
        title.replace(QLatin1Char('\r'), QLatin1Char(' '));
        title.replace(QLatin1Char('\n'), QLatin1Char(' '));
        QAction* action = addAction(title);
        if (attributed) {
            if (const std::optional<QFont> font = attributed->font())
                action->setFont(*font);
            if (const std::optional<QColor> color = attributed->foregroundColor())
                m_colors.insert(action, *color);
        }
        if (item->image())
            action->setIcon(QIcon(item->image()->path()));
        if (item->toolTip())
            action->setToolTip(toolTipHtml(*item->toolTip()));
        action->setEnabled(item->isEnabled());
        entry.action = action;
        if (item->isAlternate() && lastPrimary >= 0)
            entry.primary = lastPrimary;
        else
            lastPrimary = static_cast<int>(m_entries.size());
        m_entries.push_back(std::move(entry));
    }
    updateAlternates();
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
        entry.action->setVisible(shown);
    }
    for (std::size_t i = 0; i < m_entries.size(); ++i)
        if (!m_entries[i].item->isSeparatorItem() && m_entries[i].primary < 0)
            m_entries[i].action->setVisible(!replaced[i]);
}

void MenuWidget::initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const {
    QMenu::initStyleOption(option, action);
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
