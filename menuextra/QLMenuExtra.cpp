#include "menuextra/QLMenuExtra.h"

#include "menuextra/reminders/QL_Reminders.h"
#include "menuextra/store/QL_CalendarStore.h"
#include "menuextra/watch/ZVFileWatcher.h"
#include "shared/QL_PanePath.h"
#include "shared/QL_Preferences.h"

#include "platform/DistributedNotificationCenter.h"

QLMenuExtra::QLMenuExtra(std::shared_ptr<const platform::Bundle> bundle)
    : platform::NSMenuExtra(std::move(bundle)),
      m_theMenu(std::make_unique<platform::NSMenu>(QString())),
      m_theBundle(pathToPreferencePane()) {
    // Each item's own enabled state counts: labels stay disabled.
    m_theMenu->setAutoenablesItems(false);
    replaceQueue();
}

QLMenuExtra::~QLMenuExtra() {
    // Its notifications' answers must not reach a menu extra that is gone.
    m_reminders.reset();
    unregisterHotKey();
    if (m_hotKeyHandler)
        platform::RemoveEventHandler(m_hotKeyHandler);
    platform::DistributedNotificationCenter::defaultCenter().removeObserver(this);
    // Dropping the queue withdraws this object as its delegate before it goes.
    m_theQueue.reset();
}

void QLMenuExtra::replaceQueue() {
    // Release the old queue first: its thread stops and nothing more reaches us from it.
    m_theQueue.reset();
    m_theQueue = ZVKQueue::create();
    if (!m_theQueue)
        return;
    m_theQueue->addPath(ql::nodesPath());
    m_theQueue->setDelegate(this);
}

void QLMenuExtra::watcherReceivedNotificationForPath(ZVFileWatcher*, const QString& name,
                                                     const QString&) {
    if (name == ZVKQueueFileDeletedNotification)
        refreshMenu();
}

platform::NSMenu* QLMenuExtra::menu() {
    m_needsRefresh = false;
    refreshMenu();
    return m_theMenu.get();
}

QString QLMenuExtra::applicationSupportFolder() {
    return ql::applicationSupportFolder();
}

QColor QLMenuExtra::colorFromRGBAHex(const QString& text) {
    return ql::colorFromRGBAHex(text);
}

QLMenuExtra::MenuSettings QLMenuExtra::MenuSettings::read() {
    const QL_Preferences& p = QL_Preferences::sharedPreferences();
    MenuSettings s;
    s.useSmallFontSize = p.useSmallFontSize();
    s.sortOrder = p.sortOrder();
    s.showLabels = p.showLabels();
    s.hideToDoItemsAfterCompletion = p.hideToDoItemsAfterCompletion();
    s.numberOfDaysAfterCompletion = p.numberOfDaysAfterCompletion();
    s.showToDoItemsDue = p.showToDoItemsDue();
    s.numberOfDaysBeforeDue = p.numberOfDaysBeforeDue();
    s.trimLongTitles = p.trimLongTitles();
    s.trimLongTitlesLength = p.trimLongTitlesLength();
    s.showDueDates = p.showDueDates();
    s.dueDateOnRight = p.dueDateOnRight();
    s.colorItemsByCalendarColor = p.colorItemsByCalendarColor();
    s.informationalIcons = p.informationalIcons();
    s.highlightOverdueItems = p.highlightOverdueItems();
    s.showTooltips = p.showTooltips();
    return s;
}

const QLMenuExtra::MenuSettings& QLMenuExtra::settings() {
    if (m_refreshSettings)
        return *m_refreshSettings;
    m_callSettings = MenuSettings::read();
    return *m_callSettings;
}

QVariantMap QLMenuExtra::titleAttributes() {
    if (m_refreshSettings && m_refreshTitleAttributes)
        return *m_refreshTitleAttributes;
    QVariantMap attributes{{platform::NSFontAttributeName,
                            platform::menuBarFontOfSize(settings().useSmallFontSize ? 12.0 : 0.0)}};
    if (m_refreshSettings)
        m_refreshTitleAttributes = attributes;
    return attributes;
}

QString QLMenuExtra::localizedText(const QString& key) {
    if (!m_theBundle)
        return QString();
    const auto cached = m_texts.constFind(key);
    if (cached != m_texts.constEnd())
        return *cached;
    if (!m_pane || m_pane->bundlePath() != *m_theBundle)
        m_pane = platform::Bundle::bundleWithPath(*m_theBundle);
    const QString text =
        m_pane ? m_pane->localizedStringForKey(key, QString(), QStringLiteral("Quillo"))
               : QString();
    m_texts.insert(key, text);
    return text;
}

QString QLMenuExtra::localized(const QString& key) {
    // Without the pane there are no texts; the key at least says what the item is.
    if (!m_theBundle)
        return key;
    return localizedText(key);
}

// ---- Icons ----

namespace {

struct MenuIconPair {
    const char* image;
    const char* alternate;
};

// By the menuIconImage setting; the blue designs share the graphite pressed forms.
constexpr MenuIconPair menuIcons[] = {
    {"graphiteToDoMenuIcon", "graphiteToDoMenuIcon_Alt"},
    {"graphiteToDoMenuIconAlternative", "graphiteToDoMenuIconAlternative_Alt"},
    {"graphiteToDoMenuIconCalendar", "graphiteToDoMenuIconCalendar_Alt"},
    {"blueToDoMenuIcon", "graphiteToDoMenuIcon_Alt"},
    {"blueToDoMenuIconAlternative", "graphiteToDoMenuIconAlternative_Alt"},
    {"blueToDoMenuIconCalendar", "graphiteToDoMenuIconCalendar_Alt"},
};

} // namespace

platform::NSImagePtr QLMenuExtra::imageNamed(const QString& name) const {
    if (!bundle())
        return nullptr;
    const std::optional<QString> path = bundle()->pathForImageResource(name);
    return path ? platform::NSImage::imageWithContentsOfFile(*path) : nullptr;
}

void QLMenuExtra::setMenuIcon() {
    const int design = QL_Preferences::sharedPreferences().menuIconImage();
    // Every rebuild sets the pictures; they are read when the design changes, not at
    // every click.
    if (design >= 0 && design < static_cast<int>(std::size(menuIcons)) &&
        (design != m_menuIconDesign || !m_theMenuImage || !m_theMenuImageAlternative)) {
        const MenuIconPair& pair = menuIcons[design];
        m_theMenuImage = imageNamed(QString::fromLatin1(pair.image));
        m_theMenuImageAlternative = imageNamed(QString::fromLatin1(pair.alternate));
        m_menuIconDesign = design;
    }
    setImage(m_theMenuImage);
    setAlternateImage(m_theMenuImageAlternative);
}

void QLMenuExtra::loadMenuIcons() {
    m_imagePriorityNone = imageNamed(QStringLiteral("graphitePriorityNone"));
    m_imagePriorityNotImportant = imageNamed(QStringLiteral("graphitePriorityNotImportant"));
    m_imagePriorityImportant = imageNamed(QStringLiteral("graphitePriorityImportant"));
    m_imagePriorityVeryImportant = imageNamed(QStringLiteral("graphitePriorityVeryImportant"));
    m_imageExpiredToDo = imageNamed(QStringLiteral("graphiteStatusExpired"));
    m_imageCheckedToDo = imageNamed(QStringLiteral("graphiteStatusChecked"));
    m_imageUnCheckedToDo = imageNamed(QStringLiteral("graphiteStatusUnchecked"));
}
