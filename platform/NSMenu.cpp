#include "platform/NSMenu.h"

#include <QApplication>
#include <QFileInfo>
#include <QImageReader>
#include <QStringList>

#include <cmath>

namespace platform {

std::shared_ptr<const NSImage> NSImage::imageWithContentsOfFile(const QString& path) {
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile())
        return nullptr;
    QImageReader reader(path);
    if (!reader.canRead())
        return nullptr;
    return std::shared_ptr<const NSImage>(
        new NSImage(info.absoluteFilePath(), info.completeBaseName()));
}

const QIcon& NSImage::icon() const {
    if (!m_icon)
        m_icon = QIcon(m_path);
    return *m_icon;
}

std::optional<QFont> NSAttributedString::font() const {
    const auto it = m_attributes.constFind(NSFontAttributeName);
    if (it == m_attributes.constEnd() || it->typeId() != QMetaType::QFont)
        return std::nullopt;
    return it->value<QFont>();
}

std::optional<QColor> NSAttributedString::foregroundColor() const {
    const auto it = m_attributes.constFind(NSForegroundColorAttributeName);
    if (it == m_attributes.constEnd() || it->typeId() != QMetaType::QColor)
        return std::nullopt;
    const QColor color = it->value<QColor>();
    if (!color.isValid())
        return std::nullopt;
    return color;
}

namespace {

constexpr qreal standardMenuFontPoints = 14.0;

QFont standardMenuFont() {
    // Without a GUI application (a headless tool) the model still gets a font.
    QCoreApplication* const app = QCoreApplication::instance();
    if (qobject_cast<QApplication*>(app))
        return QApplication::font("QMenu");
    if (qobject_cast<QGuiApplication*>(app))
        return QGuiApplication::font();
    return QFont();
}

} // namespace

QFont menuBarFontOfSize(qreal points) {
    QFont font = standardMenuFont();
    if (points <= 0)
        return font;
    const qreal factor = points / standardMenuFontPoints;
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    else if (font.pixelSize() > 0)
        font.setPixelSize(std::max(1, qRound(font.pixelSize() * factor)));
    return font;
}

NSMenuItem::NSMenuItem(QString title, NSAction action, QString keyEquivalent)
    : m_title(std::move(title)), m_action(std::move(action)),
      m_keyEquivalent(std::move(keyEquivalent)) {}

std::shared_ptr<NSMenuItem> NSMenuItem::separatorItem() {
    auto item = std::make_shared<NSMenuItem>();
    item->m_separator = true;
    item->m_enabled = false;
    return item;
}

NSMenuItemPtr NSMenu::itemAtIndex(int index) const {
    if (index < 0 || index >= numberOfItems())
        return nullptr;
    return m_items[static_cast<std::size_t>(index)];
}

void NSMenu::addItem(NSMenuItemPtr item) {
    if (item)
        m_items.push_back(std::move(item));
}

void NSMenu::insertItem(NSMenuItemPtr item, int index) {
    if (!item)
        return;
    if (index < 0)
        index = 0;
    if (index >= numberOfItems())
        m_items.push_back(std::move(item));
    else
        m_items.insert(m_items.begin() + index, std::move(item));
}

// ---- The dump ----

namespace {

// Control characters and the quote made visible, so that one item stays one line.
QString escaped(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        case '"':
            out += QLatin1String("\\\"");
            break;
        case '\\':
            out += QLatin1String("\\\\");
            break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    return out;
}

QString modifierNames(unsigned mask) {
    QStringList names;
    if (mask & NSShiftKeyMask)
        names << QStringLiteral("shift");
    if (mask & NSControlKeyMask)
        names << QStringLiteral("control");
    if (mask & NSAlternateKeyMask)
        names << QStringLiteral("option");
    if (mask & NSCommandKeyMask)
        names << QStringLiteral("command");
    return names.join(QLatin1Char('+'));
}

// The font as the size it was asked for, so that dumps do not depend on the desktop's
// font: "standard", or the nominal points against the standard 14.
QString fontName(const QFont& font) {
    const QFont standard = menuBarFontOfSize(0);
    if (font == standard)
        return QStringLiteral("standard");
    qreal ratio = 0;
    if (font.pointSizeF() > 0 && standard.pointSizeF() > 0)
        ratio = font.pointSizeF() / standard.pointSizeF();
    else if (font.pixelSize() > 0 && standard.pixelSize() > 0)
        ratio = qreal(font.pixelSize()) / standard.pixelSize();
    if (ratio <= 0)
        return QStringLiteral("other");
    return QString::number(std::round(ratio * standardMenuFontPoints * 10) / 10) +
           QLatin1String("pt");
}

} // namespace

QString dumpMenu(const NSMenu& menu) {
    QString out;
    for (const NSMenuItemPtr& item : menu.itemArray()) {
        if (item->isSeparatorItem()) {
            out += QLatin1String("----\n");
            continue;
        }
        const std::optional<NSAttributedString>& attributed = item->attributedTitle();
        const QString title = attributed ? attributed->string() : item->title();
        out += QLatin1Char('"') + escaped(title) + QLatin1Char('"');
        out += item->isEnabled() ? QLatin1String(" enabled") : QLatin1String(" disabled");
        if (item->isAlternate())
            out += QLatin1String(" alternate(") + modifierNames(item->keyEquivalentModifierMask()) +
                   QLatin1Char(')');
        if (item->image())
            out += QLatin1String(" image=") + item->image()->name();
        out += QLatin1String(" tag=") + QString::number(item->tag());
        if (!item->action().selector.isEmpty())
            out += QLatin1String(" action=") + item->action().selector;
        if (!item->keyEquivalent().isEmpty())
            out += QLatin1String(" key=\"") + escaped(item->keyEquivalent()) + QLatin1Char('"');
        if (attributed) {
            if (const std::optional<QFont> font = attributed->font())
                out += QLatin1String(" font=") + fontName(*font);
            if (const std::optional<QColor> color = attributed->foregroundColor())
                out += QLatin1String(" color=") +
                       color->name(color->alpha() == 255 ? QColor::HexRgb : QColor::HexArgb);
        }
        if (attributed && attributed->string() != item->title())
            out += QLatin1String(" plain=\"") + escaped(item->title()) + QLatin1Char('"');
        out += QLatin1Char('\n');
        if (const std::optional<QString>& tip = item->toolTip()) {
            // One line per line of the tool tip, its line end shown.
            qsizetype start = 0;
            while (start < tip->size()) {
                qsizetype end = start;
                while (end < tip->size() && tip->at(end) != QLatin1Char('\r') &&
                       tip->at(end) != QLatin1Char('\n'))
                    ++end;
                if (end < tip->size())
                    ++end;
                out += QLatin1String("    tip: ") + escaped(tip->mid(start, end - start)) +
                       QLatin1Char('\n');
                start = end;
            }
            if (tip->isEmpty())
                out += QLatin1String("    tip: \n");
        }
    }
    return out;
}

QString partOfMenuTitle(const std::vector<NSMenuItemPtr>& items, std::size_t from, std::size_t to,
                        bool skipAlternates) {
    const auto titleAt = [&](std::size_t i) {
        const NSMenuItem& item = *items[i];
        QString title = item.attributedTitle() ? item.attributedTitle()->string() : item.title();
        title.replace(QLatin1Char('\r'), QLatin1Char(' '));
        title.replace(QLatin1Char('\n'), QLatin1Char(' '));
        if (title.size() > 24)
            title = title.left(title.at(23).isHighSurrogate() ? 23 : 24) + QChar(0x2026);
        return title;
    };
    std::optional<std::size_t> first, last;
    for (std::size_t i = from; i < to && i < items.size(); ++i) {
        if (items[i]->isSeparatorItem() || (skipAlternates && items[i]->isAlternate()))
            continue;
        if (!first)
            first = i;
        last = i;
    }
    if (!first)
        return QStringLiteral("\u2026");
    return titleAt(*first) + QStringLiteral(" \u2013 ") + titleAt(*last);
}

} // namespace platform
