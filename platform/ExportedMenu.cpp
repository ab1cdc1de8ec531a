#include "platform/ExportedMenu.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPixmap>
#include <QTimer>

namespace platform {

namespace {

// Pixel sizes the icon carries: the exporter asks for 16 device-independent pixels at
// the application's device pixel ratio, a Qt-drawn menu for its style's size.
constexpr int iconSizes[] = {16, 22, 32, 48, 64};

// The largest sub-menu nesting followed (the choices of a choice, and so on).
constexpr int maximumDepth = 4;

QString plainTitle(const NSMenuItem& item) {
    QString title = item.attributedTitle() ? item.attributedTitle()->string() : item.title();
    // Line breaks would make one item several lines high.
    title.replace(QLatin1Char('\r'), QLatin1Char(' '));
    title.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return title;
}

QPixmap drawIcon(const QString& picture, const QColor& color, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!picture.isEmpty())
        painter.drawPixmap(0, 0, QIcon(picture).pixmap(size, size));
    if (color.isValid()) {
        // Alone the dot fills most of the icon; beside a picture it sits in the lower
        // right corner, ringed so that it stays apart from the picture.
        const qreal diameter = picture.isEmpty() ? size * 0.625 : size * 0.5;
        const QRectF dot =
            picture.isEmpty()
                ? QRectF((size - diameter) / 2, (size - diameter) / 2, diameter, diameter)
                : QRectF(size - diameter, size - diameter, diameter, diameter);
        QColor ring = Qt::white;
        ring.setAlpha(200);
        painter.setPen(picture.isEmpty() ? QPen(Qt::NoPen)
                                         : QPen(ring, std::max(1.0, size / 16.0)));
        QColor fill = color;
        fill.setAlpha(255);
        painter.setBrush(fill);
        painter.drawEllipse(dot.adjusted(0.5, 0.5, -0.5, -0.5));
    }
    return pixmap;
}

} // namespace

ExportedMenu::ExportedMenu(Markup markup, int maximumItemsPerLevel)
    : m_markup(markup), m_maximumItemsPerLevel(std::max(2, maximumItemsPerLevel)) {}

ExportedMenu::~ExportedMenu() = default;

QString ExportedMenu::markedUpTitle(const NSMenuItem& item) const {
    QString title = plainTitle(item);
    if (m_markup == Markup::DBusMenu)
        title.replace(QLatin1Char('_'), QLatin1String("__"));
    title.replace(QLatin1Char('&'), QLatin1String("&&"));
    return title;
}

QIcon ExportedMenu::iconForItem(const NSMenuItem& item) {
    const QString picture = item.image() ? item.image()->path() : QString();
    QColor color;
    if (item.attributedTitle())
        color = item.attributedTitle()->foregroundColor().value_or(QColor());
    if (picture.isEmpty() && !color.isValid())
        return QIcon();
    const QString key =
        picture + QLatin1Char('\n') + (color.isValid() ? color.name(QColor::HexArgb) : QString());
    auto it = m_icons.find(key);
    if (it != m_icons.end())
        return *it;
    if (m_icons.size() > 512) // calendars come and go; the cache must not grow for ever
        m_icons.clear();
    QIcon icon;
    for (const int size : iconSizes)
        icon.addPixmap(drawIcon(picture, color, size));
    return *m_icons.insert(key, icon);
}

namespace {

// What the exported menu shows of a model, as one number: equal for a rebuild of the
// model that changed nothing a host could see or choose.
std::size_t fingerprintOf(const NSMenu& model, std::size_t seed) {
    std::size_t h = qHash(model.numberOfItems(), seed);
    for (const NSMenuItemPtr& item : model.itemArray()) {
        const std::optional<NSAttributedString>& attributed = item->attributedTitle();
        const QColor color =
            attributed ? attributed->foregroundColor().value_or(QColor()) : QColor();
        h = qHashMulti(h, item->isSeparatorItem(),
                       attributed ? attributed->string() : item->title(), item->isEnabled(),
                       item->action().isSet(), item->image() ? item->image()->path() : QString(),
                       color.isValid() ? color.rgba() : 0u, item->toolTip().value_or(QString()),
                       bool(item->toolTip()));
        if (item->choices())
            h = fingerprintOf(*item->choices(), h);
    }
    return h;
}

} // namespace

NSMenuItemPtr ExportedMenu::itemAt(const Path& path) const {
    if (!m_model || path.empty())
        return nullptr;
    NSMenuItemPtr item = m_model->itemAtIndex(path.front());
    for (std::size_t i = 1; item && i < path.size(); ++i)
        item = item->choices() ? item->choices()->itemAtIndex(path[i]) : nullptr;
    return item;
}

void ExportedMenu::rebuild(const NSMenu* model) {
    const std::size_t fingerprint = model ? fingerprintOf(*model, 0x51ed) : 0;
    if (model && model == m_model && fingerprint == m_fingerprint && m_rebuildCount > 0 && !m_stale)
        return; // as built: the host keeps its layout
    m_model = model;
    m_fingerprint = fingerprint;
    m_stale = false;
    ++m_rebuildCount;
    m_menu.clear();
    // The sub-menus of the last build go with their actions; none is shown while the
    // model is rebuilt (a host asks before it shows one).
    // Last made first: a part's sub-menus are its children and go before it.
    for (auto it = m_subMenus.rbegin(); it != m_subMenus.rend(); ++it)
        delete *it;
    m_subMenus.clear();
    if (model)
        fill(&m_menu, *model, Path());
    // One change for the whole build: a host reads the new layout once.
    if (m_rebuilt)
        m_rebuilt();
}

void ExportedMenu::fill(QMenu* into, const NSMenu& model, const Path& prefix) {
    const std::vector<NSMenuItemPtr>& items = model.itemArray();
    const std::size_t count = items.size();
    const auto limit = static_cast<std::size_t>(m_maximumItemsPerLevel);
    const auto pathOf = [&prefix](std::size_t i) {
        Path path = prefix;
        path.push_back(int(i));
        return path;
    };
    if (count <= limit) {
        for (std::size_t i = 0; i < count; ++i)
            addItem(into, items[i], pathOf(i));
        return;
    }
    // The head, the middle in parts named by their first and last titles, and the last
    // section (the settings item) as it is: a host lists the first level at once.
    std::size_t tailStart = count;
    for (std::size_t i = count; i-- > 0;)
        if (items[i]->isSeparatorItem()) {
            if (count - i <= 8)
                tailStart = i;
            break;
        }
    const std::size_t headEnd = std::min(limit, tailStart);
    for (std::size_t i = 0; i < headEnd; ++i)
        addItem(into, items[i], pathOf(i));
    for (std::size_t from = headEnd; from < tailStart;) {
        const std::size_t to = std::min(from + limit, tailStart);
        QString title = guideTitle(model, from, to);
        if (m_markup == Markup::DBusMenu)
            title.replace(QLatin1Char('_'), QLatin1String("__"));
        QMenu* part = into->addMenu(title.replace(QLatin1Char('&'), QLatin1String("&&")));
        m_subMenus.push_back(part);
        for (std::size_t i = from; i < to; ++i)
            addItem(part, items[i], pathOf(i));
        from = to;
    }
    for (std::size_t i = tailStart; i < count; ++i)
        addItem(into, items[i], pathOf(i));
}

QString ExportedMenu::guideTitle(const NSMenu& model, std::size_t from, std::size_t to) const {
    return partOfMenuTitle(model.itemArray(), from, to, false);
}

void ExportedMenu::addItem(QMenu* into, const NSMenuItemPtr& item, const Path& path) {
    if (item->isSeparatorItem()) {
        into->addSeparator();
        return;
    }
    const QIcon icon = iconForItem(*item);
    if (item->choices() && int(path.size()) < maximumDepth) {
        QMenu* sub = into->addMenu(icon, markedUpTitle(*item));
        m_subMenus.push_back(sub);
        sub->menuAction()->setEnabled(item->isEnabled());
        fill(sub, *item->choices(), path);
        return;
    }
    QAction* action = into->addAction(icon, markedUpTitle(*item));
    action->setEnabled(item->isEnabled());
    if (item->toolTip())
        action->setToolTip(*item->toolTip());
    if (!item->action().isSet())
        return;
    // The item is found by its place when chosen: a rebuild of the model that changed
    // nothing keeps this menu, and its items are the model's new ones. The item and its
    // call are then held by value: the model may be rebuilt before the call runs.
    QObject::connect(action, &QAction::triggered, &m_menu, [this, path] {
        NSMenuItemPtr chosen = itemAt(path);
        if (!chosen || !chosen->action().isSet())
            return;
        QTimer::singleShot(0, &m_menu,
                           [chosen, call = chosen->action().call] { call(chosen.get()); });
    });
}

QString ExportedMenu::dump(const QMenu& menu, int indent) {
    QString out;
    for (const QAction* action : menu.actions()) {
        out += QString(indent * 4, QLatin1Char(' '));
        if (action->isSeparator()) {
            out += QLatin1String("----\n");
            continue;
        }
        out += QLatin1Char('"') + action->text() + QLatin1Char('"');
        out += action->isEnabled() ? QLatin1String(" enabled") : QLatin1String(" disabled");
        if (!action->icon().isNull())
            out += QLatin1String(" icon");
        out += QLatin1Char('\n');
        if (action->menu())
            out += dump(*action->menu(), indent + 1);
    }
    return out;
}

} // namespace platform
