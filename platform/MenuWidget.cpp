#include "platform/MenuWidget.h"

#include <QApplication>
#include <QCursor>
#include <QDateTime>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyleOptionMenuItem>
#include <QTimer>
#include <QWheelEvent>

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

// No limit (0), or at least two items per level.
int levelLimit(int count) {
    return count <= 0 ? 0 : std::max(2, count);
}

// The index of the model item an action shows, kept in the action's data.
std::optional<std::size_t> indexOfAction(const QAction* action) {
    if (!action)
        return std::nullopt;
    bool ok = false;
    const qulonglong index = action->data().toULongLong(&ok);
    if (!ok)
        return std::nullopt;
    return static_cast<std::size_t>(index);
}

} // namespace

MenuWidget::MenuWidget(NSMenu& menu, QWidget* parent)
    : MenuWidget(menu, defaultMaximumItemsPerLevel, parent) {}

MenuWidget::~MenuWidget() = default;

MenuWidget::MenuWidget(NSMenu& menu, int maximumItemsPerLevel, QWidget* parent)
    : QMenu(parent), m_menu(menu), m_maximumItemsPerLevel(levelLimit(maximumItemsPerLevel)) {
    setToolTipsVisible(true);
    connect(this, &QMenu::triggered, this, &MenuWidget::actionTriggered);
    m_edgeScroll.setInterval(40);
    connect(&m_edgeScroll, &QTimer::timeout, this, [this] { scrollBy(m_edgeDirection); });
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

void MenuWidget::scrollToItem(std::size_t index) {
    if (index >= m_entries.size())
        return;
    if (m_windowed) {
        if (index < m_first)
            placeWindow(index, false);
        else if (index >= m_end)
            placeWindow(index, true);
    }
    if (QAction* action = m_entries[index].action; action && isSelectable(index))
        setActiveAction(action);
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
    m_maximumItemsPerLevel = levelLimit(count);
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
    m_windowed = false;
    m_first = m_end = 0;
    m_heights.clear();
    setMinimumSize(0, 0);

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

    if (m_maximumItemsPerLevel == 0 && count > allActionsUpTo) {
        // Only the rows in view get actions; the rest are made as they scroll in.
        m_windowed = true;
        m_heights.assign(count, -1);
        placeWindow(0, false);
        return;
    }
    const auto limit =
        m_maximumItemsPerLevel == 0 ? count : static_cast<std::size_t>(m_maximumItemsPerLevel);
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
    return partOfMenuTitle(m_menu.itemArray(), from, to, true)
        .replace(QLatin1Char('&'), QLatin1String("&&"));
}

QAction* MenuWidget::addItemAction(QMenu* into, std::size_t index) {
    QAction* action = makeItemAction(index);
    action->setParent(into);
    into->addAction(action);
    return action;
}

QAction* MenuWidget::makeItemAction(std::size_t index) {
    Entry& entry = m_entries[index];
    const NSMenuItemPtr& item = entry.item;
    auto* action = new QAction(this);
    action->setData(QVariant::fromValue(qulonglong(index)));
    entry.action = action;
    if (item->isSeparatorItem()) {
        action->setSeparator(true);
        return action;
    }
    const std::optional<NSAttributedString>& attributed = item->attributedTitle();
    QString title = attributed ? attributed->string() : item->title();
    // A menu takes "&" as the mark of a shortcut letter; a to-do's title is plain.
    title.replace(QLatin1Char('&'), QLatin1String("&&"));
    // Line breaks would make one item several lines high.
    title.replace(QLatin1Char('\r'), QLatin1Char(' '));
    title.replace(QLatin1Char('\n'), QLatin1Char(' '));
    action->setText(title);
    if (attributed) {
        if (const std::optional<QFont> font = attributed->font())
            action->setFont(*font);
        if (const std::optional<QColor> color = attributed->foregroundColor())
            m_colors.insert(action, *color);
    }
    // Each picture is read once, whatever the number of items and menus showing it.
    if (const NSImagePtr& image = item->image()) {
        auto icon = m_icons.find(image.get());
        if (icon == m_icons.end())
            icon = m_icons.insert(image.get(), image->icon());
        action->setIcon(*icon);
    }
    if (item->toolTip())
        action->setToolTip(toolTipHtml(*item->toolTip()));
    action->setEnabled(item->isEnabled());
    action->setVisible(isShown(index));
    return action;
}

void MenuWidget::dropItemAction(std::size_t index) {
    Entry& entry = m_entries[index];
    QAction* action = entry.action;
    if (!action)
        return;
    entry.action = nullptr;
    if (activeAction() == action)
        setActiveAction(nullptr);
    m_colors.remove(action);
    removeAction(action);
    // Later: the action may be the one whose event is being handled.
    action->deleteLater();
}

bool MenuWidget::isShown(std::size_t index) const {
    const Entry& entry = m_entries[index];
    if (entry.item->isSeparatorItem())
        return true;
    const auto matches = [this](const Entry& e) {
        return (e.item->keyEquivalentModifierMask() & modifierKeys) == m_heldMask;
    };
    if (entry.primary >= 0)
        return matches(entry);
    // A primary item gives way when any of its alternates (right after it) matches.
    for (std::size_t j = index + 1;
         j < m_entries.size() && m_entries[j].primary == static_cast<int>(index); ++j)
        if (matches(m_entries[j]))
            return false;
    return true;
}

bool MenuWidget::isSelectable(std::size_t index) const {
    const NSMenuItem& item = *m_entries[index].item;
    return !item.isSeparatorItem() && item.isEnabled() && isShown(index);
}

QString MenuWidget::plainTitle(std::size_t index) const {
    const NSMenuItem& item = *m_entries[index].item;
    return item.attributedTitle() ? item.attributedTitle()->string() : item.title();
}

int MenuWidget::rowsHeightAvailable() const {
    // The screen the menu is about to open on: a menu opens where it was clicked.
    const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const int screenHeight = screen ? screen->availableGeometry().height() : 600;
    QStyle* s = style();
    const int deskFrame = s->pixelMetric(QStyle::PM_MenuDesktopFrameWidth, nullptr, this);
    const int frame = s->pixelMetric(QStyle::PM_MenuPanelWidth, nullptr, this);
    const int margin = s->pixelMetric(QStyle::PM_MenuVMargin, nullptr, this);
    const QMargins contents = contentsMargins();
    return std::max(1, screenHeight - 2 * deskFrame - 2 * (frame + margin) - contents.top() -
                           contents.bottom());
}

int MenuWidget::rowHeight(std::size_t index) {
    if (!isShown(index))
        return 0;
    int& height = m_heights[index];
    if (height >= 0)
        return height;
    // An estimate as the menu lays out a row; rows in view are measured exactly later.
    const NSMenuItem& item = *m_entries[index].item;
    QStyleOptionMenuItem option;
    option.initFrom(this);
    option.checkType = QStyleOptionMenuItem::NotCheckable;
    QFont rowFont = font();
    if (item.attributedTitle())
        if (const std::optional<QFont> f = item.attributedTitle()->font())
            rowFont = *f;
    option.font = rowFont;
    option.fontMetrics = QFontMetrics(rowFont);
    int contentHeight = std::max(option.fontMetrics.height(), fontMetrics().height());
    if (item.isSeparatorItem()) {
        option.menuItemType = QStyleOptionMenuItem::Separator;
    } else {
        option.menuItemType = QStyleOptionMenuItem::Normal;
        option.text = QStringLiteral("M");
        if (item.image()) {
            const int icon = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
            option.icon = item.image()->icon();
            option.maxIconWidth = icon;
            contentHeight = std::max(contentHeight, icon);
        }
    }
    height = style()
                 ->sizeFromContents(QStyle::CT_MenuItem, &option, QSize(1, contentHeight), this)
                 .height();
    return height;
}

void MenuWidget::placeWindow(std::size_t anchor, bool anchorIsLast) {
    const std::size_t count = m_entries.size();
    if (count == 0)
        return;
    anchor = std::min(anchor, count - 1);
    const int available = rowsHeightAvailable();
    const auto span = [&](std::size_t& first, std::size_t& end) {
        int used = 0;
        if (anchorIsLast) {
            end = anchor + 1;
            first = end;
            while (first > 0 && used + rowHeight(first - 1) <= available)
                used += rowHeight(--first);
            while (end < count && used + rowHeight(end) <= available)
                used += rowHeight(end++);
        } else {
            first = anchor;
            end = first;
            while (end < count && used + rowHeight(end) <= available)
                used += rowHeight(end++);
            while (first > 0 && used + rowHeight(first - 1) <= available)
                used += rowHeight(--first);
        }
        if (end <= first)
            end = first + 1;
    };
    std::size_t first = 0, end = 0;
    span(first, end);
    setWindow(first, end);
    // The rows in view as the menu lays them out, then the window again with those.
    for (std::size_t i = m_first; i < m_end; ++i)
        if (QAction* action = m_entries[i].action; action && action->isVisible())
            m_heights[i] = actionGeometry(action).height();
    span(first, end);
    setWindow(first, end);
}

void MenuWidget::setWindow(std::size_t first, std::size_t end) {
    const std::size_t oldFirst = m_first, oldEnd = m_end;
    for (std::size_t i = oldFirst; i < oldEnd; ++i)
        if (i < first || i >= end)
            dropItemAction(i);
    const std::size_t keptFrom = std::max(first, oldFirst);
    const std::size_t keptTo = std::min(end, oldEnd);
    const bool overlap = keptFrom < keptTo;
    QAction* before = overlap ? m_entries[keptFrom].action : nullptr;
    for (std::size_t i = first; i < (overlap ? keptFrom : end); ++i)
        insertAction(before, makeItemAction(i));
    if (overlap)
        for (std::size_t i = keptTo; i < end; ++i)
            addAction(makeItemAction(i));
    m_first = first;
    m_end = end;
    if (isVisible()) {
        // The menu keeps its place and grows, never shrinks, while it scrolls.
        const QSize size = sizeHint().expandedTo(this->size());
        setMinimumSize(size);
        resize(size);
        update();
    }
}

void MenuWidget::scrollBy(int rows) {
    std::size_t first = m_first;
    // Rows hidden now (alternates) do not count.
    for (; rows > 0 && first + 1 < m_entries.size(); --rows)
        do
            ++first;
        while (first + 1 < m_entries.size() && !isShown(first));
    for (; rows < 0 && first > 0; ++rows)
        do
            --first;
        while (first > 0 && !isShown(first));
    if (first != m_first)
        placeWindow(first, false);
}

std::optional<std::size_t> MenuWidget::activeIndex() const {
    const std::optional<std::size_t> index = indexOfAction(activeAction());
    if (!index || *index >= m_entries.size() || m_entries[*index].action != activeAction())
        return std::nullopt;
    return index;
}

std::optional<std::size_t> MenuWidget::nextSelectable(std::size_t from, bool forward) const {
    const std::size_t count = m_entries.size();
    if (count == 0)
        return std::nullopt;
    if (forward) {
        for (std::size_t i = from; i < count; ++i)
            if (isSelectable(i))
                return i;
        return std::nullopt;
    }
    for (std::size_t i = std::min(from, count - 1) + 1; i-- > 0;)
        if (isSelectable(i))
            return i;
    return std::nullopt;
}

bool MenuWidget::navigate(QKeyEvent* event) {
    if (!m_windowed || m_entries.empty())
        return false;
    const std::size_t last = m_entries.size() - 1;
    const std::optional<std::size_t> current = activeIndex();
    std::size_t page = 0;
    for (std::size_t i = m_first; i < m_end; ++i)
        page += isShown(i) ? 1 : 0;
    page = std::max<std::size_t>(1, page - 1);
    std::optional<std::size_t> target;
    switch (event->key()) {
    case Qt::Key_Down:
        target = nextSelectable(current ? *current + 1 : m_first, true);
        if (!target) // round to the top, as a menu does
            target = nextSelectable(0, true);
        break;
    case Qt::Key_Up:
        if (!current)
            target = nextSelectable(m_end - 1, false);
        else if (*current > 0)
            target = nextSelectable(*current - 1, false);
        if (!target)
            target = nextSelectable(last, false);
        break;
    case Qt::Key_PageDown: {
        const std::size_t to = std::min(last, (current ? *current : m_first) + page);
        target = nextSelectable(to, true);
        if (!target)
            target = nextSelectable(to, false);
        break;
    }
    case Qt::Key_PageUp: {
        const std::size_t from = current ? *current : m_first;
        const std::size_t to = from > page ? from - page : 0;
        target = nextSelectable(to, false);
        if (!target)
            target = nextSelectable(to, true);
        break;
    }
    case Qt::Key_Home:
        target = nextSelectable(0, true);
        break;
    case Qt::Key_End:
        target = nextSelectable(last, false);
        break;
    default:
        return false;
    }
    if (target)
        scrollToItem(*target);
    return true;
}

bool MenuWidget::typeAhead(QKeyEvent* event) {
    const QString text = event->text();
    if (text.isEmpty() || (event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)))
        return false;
    for (const QChar c : text)
        if (!c.isPrint())
            return false;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - m_typedAt > QApplication::keyboardInputInterval())
        m_typed.clear();
    // Space continues a search but starts none: the menu may take it to choose.
    if (m_typed.isEmpty() && text.trimmed().isEmpty())
        return false;
    m_typedAt = now;
    // The same letter again goes on to the next item that starts with it.
    const bool again = m_typed.size() == 1 && m_typed.compare(text, Qt::CaseInsensitive) == 0;
    if (!again)
        m_typed += text;
    const std::size_t count = m_entries.size();
    const std::optional<std::size_t> current = activeIndex();
    const std::size_t start =
        current ? *current + (m_typed.size() == 1 ? 1 : 0) : (m_windowed ? m_first : 0);
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t i = (start + k) % count;
        // Without the window every item that can be reached has its action.
        if (!isSelectable(i) || (!m_windowed && !m_entries[i].action))
            continue;
        const QString title = plainTitle(i);
        qsizetype at = 0;
        while (at < title.size() && title.at(at).isSpace())
            ++at;
        if (QStringView(title).mid(at).startsWith(m_typed, Qt::CaseInsensitive)) {
            scrollToItem(i);
            break;
        }
    }
    return true;
}

void MenuWidget::setHeldModifierMask(unsigned mask) {
    mask &= modifierKeys;
    if (mask == m_heldMask)
        return;
    m_heldMask = mask;
    updateAlternates();
}

void MenuWidget::updateAlternates() {
    // Items of parts not opened yet, or out of view, have no action.
    const std::size_t from = m_windowed ? m_first : 0;
    const std::size_t to = m_windowed ? m_end : m_entries.size();
    for (std::size_t i = from; i < to; ++i)
        if (QAction* action = m_entries[i].action; action && !m_entries[i].item->isSeparatorItem())
            action->setVisible(isShown(i));
    // Rows may have changed height: the window is fitted again.
    if (m_windowed && !m_entries.empty())
        placeWindow(m_first, false);
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
    if (trackModifierKey(event, true) || navigate(event) || typeAhead(event)) {
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

void MenuWidget::paintEvent(QPaintEvent* event) {
    QMenu::paintEvent(event);
    if (!m_windowed || m_entries.empty())
        return;
    // A slim bar at the right edge: where the rows in view are in the whole menu.
    const int frame = style()->pixelMetric(QStyle::PM_MenuPanelWidth, nullptr, this);
    const QRect track = rect().adjusted(0, frame + 2, -frame - 1, -frame - 2);
    if (track.height() < 8)
        return;
    const double total = double(m_entries.size());
    const int length = std::max(12, int(track.height() * double(m_end - m_first) / total));
    const int top = std::min(track.bottom() - length + 1,
                             track.top() + int(track.height() * double(m_first) / total));
    QColor color = palette().color(QPalette::WindowText);
    color.setAlphaF(0.35f);
    QPainter painter(this);
    painter.fillRect(QRect(track.right() - 3, top, 3, length), color);
}

void MenuWidget::mouseMoveEvent(QMouseEvent* event) {
    QMenu::mouseMoveEvent(event);
    if (!m_windowed)
        return;
    // The band at either edge: the frame and a few pixels of the first or last row.
    const int frame = style()->pixelMetric(QStyle::PM_MenuPanelWidth, nullptr, this);
    const int band = frame + 6;
    const int y = event->position().toPoint().y();
    int direction = 0;
    if (y < band && m_first > 0)
        direction = -1;
    else if (y >= height() - band && m_end < m_entries.size())
        direction = 1;
    m_edgeDirection = direction;
    if (direction == 0)
        m_edgeScroll.stop();
    else if (!m_edgeScroll.isActive())
        m_edgeScroll.start();
}

void MenuWidget::leaveEvent(QEvent* event) {
    m_edgeScroll.stop();
    QMenu::leaveEvent(event);
}

void MenuWidget::hideEvent(QHideEvent* event) {
    m_edgeScroll.stop();
    QMenu::hideEvent(event);
}

void MenuWidget::wheelEvent(QWheelEvent* event) {
    if (!m_windowed) {
        QMenu::wheelEvent(event);
        return;
    }
    // Three rows per notch of the wheel; finer wheels add up.
    m_wheelAngle += event->angleDelta().y();
    const int rows = m_wheelAngle / 40;
    m_wheelAngle -= rows * 40;
    if (rows != 0)
        scrollBy(-rows);
    event->accept();
}

void MenuWidget::actionTriggered(QAction* action) {
    // A menu also reports the choices made in the parts it opened; each choice is taken
    // from the menu that holds the action, and only once.
    if (action->parent() != sender())
        return;
    const std::optional<std::size_t> index = indexOfAction(action);
    if (!index || *index >= m_entries.size() || m_entries[*index].action != action)
        return;
    const Entry& entry = m_entries[*index];
    if (!entry.item->action().isSet())
        return;
    // Run once the menu has closed and its event handling has returned, so that the
    // action may rebuild the model or open a window. The item and the call are held
    // by value: the widget may be gone by then.
    NSMenuItemPtr item = entry.item;
    QTimer::singleShot(0, QCoreApplication::instance(),
                       [item, call = item->action().call] { call(item.get()); });
}

} // namespace platform
