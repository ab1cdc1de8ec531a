#include "QL_Preference_Pane/QL_Preference_PanePref.h"

#include "QL_Preference_Pane/QL_HotKeyMenu.h"
#include "QL_Preference_Pane/QL_MenuExtraInstall.h"
#include "platform/CoreMenuExtra.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/Preferences.h"
#include "platform/Workspace.h"
#include "shared/QL_PanePath.h"
#include "shared/QL_Preferences.h"
#include "shared/QL_SoftwareUpdate.h"
#include "ui_QL_Preference_PanePref.h"

#include <QBoxLayout>
#include <QEvent>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QTimer>

#include <array>

namespace {

// The outlets the tab identifiers and the key lookup can name.
constexpr std::array outletNames{
    "sideBarView",
    "versionField",
    "genView",
    "sortToDoPopup",
    "showDueDatesCheckbox",
    "showLabelsCheckbox",
    "showTooltipsCheckbox",
    "showInformationalIconsMatrix",
    "highlighOverdueItemsCheckbox",
    "showQuilloCheckbox",
    "showDueCountOnIconCheckbox",
    "showNextDueInToolTipCheckbox",
    "symbolicMenuIconCheckbox",
    "advView",
    "colorItemsCheckbox",
    "doNotWarnCheckbox",
    "hideToDoCheckbox",
    "hideToDoField",
    "hideSubscribedCalendarsCheckbox",
    "showToDoCheckbox",
    "showToDoField",
    "useSmallFontSizeCheckbox",
    "menuBarImageMatrix",
    "checkForUpdatesCheckbox",
    "checkNowButton",
    "quickAddKeyCheckbox",
    "quickAddKeyPopup",
    "showRemindersCheckbox",
    "modView",
    "modifierStatusMatrix",
    "modifierDeleteMatrix",
    "modifierKeyCheckbox",
    "modifierKeyPopup",
};

// A text of the form is a key of the table when it is written in upper case.
bool isKey(const QString& s) {
    static const QRegularExpression key(QStringLiteral("^[A-Z][A-Z0-9_]*$"));
    return key.match(s).hasMatch();
}

QList<QAbstractButton*> cellsOf(const QWidget* matrix) {
    QList<QAbstractButton*> cells;
    if (!matrix)
        return cells;
    for (QAbstractButton* cell : matrix->findChildren<QAbstractButton*>())
        if (cell->property("tag").isValid())
            cells.append(cell);
    return cells;
}

// The modifier-key set of a matrix of four switch cells: bit n for the cell tagged n.
int modifierSetOf(const QWidget* matrix) {
    int set = 0;
    for (int tag = 0; tag < 4; ++tag)
        if (QAbstractButton* cell = QL_Preference_PanePref::cellWithTag(matrix, tag);
            cell && cell->isChecked())
            set += 1 << tag;
    return set;
}

void showModifierSet(const QWidget* matrix, int set) {
    for (int tag = 0; tag < 4; ++tag)
        if (QAbstractButton* cell = QL_Preference_PanePref::cellWithTag(matrix, tag))
            cell->setChecked(set & (1 << tag));
}

void selectCellWithTag(const QWidget* matrix, int tag) {
    if (QAbstractButton* cell = QL_Preference_PanePref::cellWithTag(matrix, tag))
        cell->setChecked(true);
}

} // namespace

QL_Preference_PanePref::QL_Preference_PanePref(std::shared_ptr<const platform::Bundle> bundle)
    : NSPreferencePane(std::move(bundle)) {}

QL_Preference_PanePref::~QL_Preference_PanePref() {
    platform::DistributedNotificationCenter::defaultCenter().removeObserver(this);
    // The controls call back into this object; they go before it does. A side bar on no
    // tab belongs to no view and goes by itself.
    if (m_sideBar && !m_sideBar->parent())
        delete m_sideBar.data();
    delete mainView();
}

std::unique_ptr<QL_Preference_PanePref>
QL_Preference_PanePref::initWithBundle(std::shared_ptr<const platform::Bundle> bundle) {
    if (!bundle)
        return nullptr;
    return std::make_unique<QL_Preference_PanePref>(std::move(bundle));
}

QString QL_Preference_PanePref::text(const QString& key) const {
    return bundle() ? bundle()->localizedStringForKey(key, QString(), QStringLiteral("Quillo"))
                    : QString();
}

std::unique_ptr<QWidget> QL_Preference_PanePref::createMainView() {
    auto view = std::make_unique<QWidget>();
    m_ui = std::make_unique<Ui::QL_Preference_PanePref>();
    m_ui->setupUi(view.get());
    takeOutlets();
    localizeInterface(view.get());
    loadMenuIconImages();

    // Whole numbers only, so text that is not a number is never stored as 0.
    static const QRegularExpression wholeNumber(QStringLiteral("-?[0-9]{1,10}"));
    for (QLineEdit* field : {hideToDoField, showToDoField}) {
        field->setValidator(new QRegularExpressionValidator(wholeNumber, field));
        field->installEventFilter(this);
    }
    connectActions();
    return view;
}

void QL_Preference_PanePref::takeOutlets() {
    Ui::QL_Preference_PanePref& ui = *m_ui;
    sideBarView = ui.sideBarView;
    m_sideBar = sideBarView;
    versionField = ui.versionField;
    versionField->setTextFormat(Qt::PlainText); // the version comes from the bundle's file
    genView = ui.genView;
    sortToDoPopup = ui.sortToDoPopup;
    showDueDatesCheckbox = ui.showDueDatesCheckbox;
    showLabelsCheckbox = ui.showLabelsCheckbox;
    showTooltipsCheckbox = ui.showTooltipsCheckbox;
    showInformationalIconsMatrix = ui.showInformationalIconsMatrix;
    highlighOverdueItemsCheckbox = ui.highlighOverdueItemsCheckbox;
    showQuilloCheckbox = ui.showQuilloCheckbox;
    showDueCountOnIconCheckbox = ui.showDueCountOnIconCheckbox;
    showNextDueInToolTipCheckbox = ui.showNextDueInToolTipCheckbox;
    symbolicMenuIconCheckbox = ui.symbolicMenuIconCheckbox;
    advView = ui.advView;
    colorItemsCheckbox = ui.colorItemsCheckbox;
    doNotWarnCheckbox = ui.doNotWarnCheckbox;
    hideToDoCheckbox = ui.hideToDoCheckbox;
    hideToDoField = ui.hideToDoField;
    hideSubscribedCalendarsCheckbox = ui.hideSubscribedCalendarsCheckbox;
    showToDoCheckbox = ui.showToDoCheckbox;
    showToDoField = ui.showToDoField;
    useSmallFontSizeCheckbox = ui.useSmallFontSizeCheckbox;
    menuBarImageMatrix = ui.menuBarImageMatrix;
    checkForUpdatesCheckbox = ui.checkForUpdatesCheckbox;
    checkNowButtonOutlet = ui.checkNowButton;
    quickAddKeyCheckbox = ui.quickAddKeyCheckbox;
    quickAddKeyPopup = ui.quickAddKeyPopup;
    showRemindersCheckbox = ui.showRemindersCheckbox;
    modView = ui.modView;
    modifierStatusMatrix = ui.modifierStatusMatrix;
    modifierDeleteMatrix = ui.modifierDeleteMatrix;
    modifierKeyCheckbox = ui.modifierKeyCheckbox;
    modifierKeyPopup = ui.modifierKeyPopup;
    tabView = ui.tabView;
}

// The form writes keys of the table "Quillo" where texts go; they are replaced by the
// texts of the user's language. A control without an accessible name of its own is
// named by its text, so every control can be found by the screen reader.
void QL_Preference_PanePref::localizeInterface(QWidget* root) const {
    auto localized = [this](const QString& s) { return isKey(s) ? text(s) : s; };
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* w : widgets) {
        w->setWindowTitle(localized(w->windowTitle()));
        w->setAccessibleName(localized(w->accessibleName()));
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            button->setText(localized(button->text()));
            if (button->accessibleName().isEmpty())
                button->setAccessibleName(button->text().remove(QLatin1Char('&')));
        } else if (auto* label = qobject_cast<QLabel*>(w)) {
            label->setText(localized(label->text()));
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            group->setTitle(localized(group->title()));
            if (group->accessibleName().isEmpty())
                group->setAccessibleName(group->title());
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            for (int i = 0; i < combo->count(); ++i)
                combo->setItemText(i, localized(combo->itemText(i)));
        } else if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
            for (int i = 0; i < tabs->count(); ++i)
                tabs->setTabText(i, localized(tabs->tabText(i)));
        }
    }
}

// The six menu-bar designs are shown as pictures when the menu extra travels with the
// pane; the cells keep their names either way.
void QL_Preference_PanePref::loadMenuIconImages() {
    if (!bundle())
        return;
    const std::optional<QString> menuExtraPath =
        bundle()->pathForResource(QStringLiteral("Quillo"), QStringLiteral("menu"));
    const auto menuExtra =
        menuExtraPath ? platform::Bundle::bundleWithPath(*menuExtraPath) : nullptr;
    if (!menuExtra)
        return;
    static constexpr std::array images{
        "graphiteToDoMenuIcon", "graphiteToDoMenuIconAlternative", "graphiteToDoMenuIconCalendar",
        "blueToDoMenuIcon",     "blueToDoMenuIconAlternative",     "blueToDoMenuIconCalendar",
    };
    for (int tag = 0; tag < int(images.size()); ++tag) {
        QAbstractButton* cell = cellWithTag(menuBarImageMatrix, tag);
        const std::optional<QString> path =
            menuExtra->pathForImageResource(QLatin1String(images[tag]));
        if (cell && path)
            cell->setIcon(QIcon(*path));
    }
}

void QL_Preference_PanePref::connectActions() {
    auto onClick = [this](QAbstractButton* button, QObject* sender) {
        connect(button, &QAbstractButton::clicked, this,
                [this, sender] { valueDidChange(sender); });
    };
    for (QCheckBox* box :
         {showDueDatesCheckbox, showLabelsCheckbox, showTooltipsCheckbox,
          highlighOverdueItemsCheckbox, showQuilloCheckbox, colorItemsCheckbox, doNotWarnCheckbox,
          hideToDoCheckbox, hideSubscribedCalendarsCheckbox, showToDoCheckbox,
          useSmallFontSizeCheckbox, checkForUpdatesCheckbox, modifierKeyCheckbox,
          quickAddKeyCheckbox, showDueCountOnIconCheckbox, showNextDueInToolTipCheckbox,
          symbolicMenuIconCheckbox, showRemindersCheckbox})
        onClick(box, box);
    for (QGroupBox* matrix : {showInformationalIconsMatrix, menuBarImageMatrix,
                              modifierStatusMatrix, modifierDeleteMatrix})
        for (QAbstractButton* cell : cellsOf(matrix))
            onClick(cell, matrix);
    for (QComboBox* popup : {sortToDoPopup, modifierKeyPopup, quickAddKeyPopup})
        connect(popup, &QComboBox::activated, this, [this, popup] { valueDidChange(popup); });
    // Only what the user typed is stored; leaving a field untouched stores nothing.
    for (QLineEdit* field : {hideToDoField, showToDoField})
        connect(field, &QLineEdit::editingFinished, this, [this, field] {
            if (!field->isModified())
                return;
            field->setModified(false);
            valueDidChange(field);
        });
    connect(checkNowButtonOutlet, &QAbstractButton::clicked, this,
            [this] { checkNowButton(checkNowButtonOutlet); });
    connect(m_ui->webSiteButton, &QAbstractButton::clicked, this,
            [this] { webSiteButton(m_ui->webSiteButton); });
    connect(m_ui->supportButton, &QAbstractButton::clicked, this,
            [this] { supportButton(m_ui->supportButton); });
    connect(m_ui->emailButton, &QAbstractButton::clicked, this,
            [this] { emailButton(m_ui->emailButton); });
    connect(tabView, &QTabWidget::currentChanged, this,
            [this](int index) { tabViewWillSelectTabViewItem(tabView, tabView->widget(index)); });
}

// Text left in a day field that is not a whole number goes back to the stored value
// when the field loses the focus.
bool QL_Preference_PanePref::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        QL_Preferences& prefs = QL_Preferences::sharedPreferences();
        if (watched == hideToDoField && !hideToDoField->hasAcceptableInput())
            showDayCount(hideToDoField, prefs.numberOfDaysAfterCompletion());
        else if (watched == showToDoField && !showToDoField->hasAcceptableInput())
            showDayCount(showToDoField, prefs.numberOfDaysBeforeDue());
    }
    return QObject::eventFilter(watched, event);
}

void QL_Preference_PanePref::showDayCount(QLineEdit* field, int days) {
    field->setText(QString::asprintf("%d", days));
}

void QL_Preference_PanePref::mainViewDidLoad() {
    if (auto* layout = qobject_cast<QBoxLayout*>(genView->layout()))
        layout->insertWidget(0, sideBarView);
    updateUI();
    auto& center = platform::DistributedNotificationCenter::defaultCenter();
    const auto handler = [this](const QString& name, const QString&) {
        updateUINotification(name);
    };
    center.addObserver(this, QLPreferencesDidChangeNotification, handler);
    center.addObserver(this, platform::kMenuExtraRemovedNotification, handler);
    center.addObserver(this, platform::kMenuExtraAddedNotification, handler);
    // The alerts come once the host has shown the window, so they stand over it.
    QTimer::singleShot(0, this, [this] {
        if (bundle())
            QL_CheckInstallation(*bundle());
    });
}

void QL_Preference_PanePref::updateUINotification(const QString&) {
    // Notifications of this process arrive while its own setter runs; the controls
    // are set once that action is over, as for a notification from elsewhere.
    if (m_updatePending)
        return;
    m_updatePending = true;
    QTimer::singleShot(0, this, [this] {
        m_updatePending = false;
        // Another process may have written the domain: read it from the disk.
        platform::preferencesAppSynchronize(kQLApplicationID);
        updateUI();
    });
}

void QL_Preference_PanePref::rebuildHotKeyPopup() {
    for (QComboBox* popup : {modifierKeyPopup, quickAddKeyPopup}) {
        if (!popup)
            continue;
        popup->clear();
        for (const QL_HotKeyEntry& entry : QL_HotKeyMenuEntries()) {
            if (entry.separator) {
                popup->insertSeparator(popup->count());
                continue;
            }
            const int index = popup->count();
            popup->addItem(entry.title);
            popup->setItemData(index, entry.tag, TagRole);
            popup->setItemData(index, entry.keyIndex, RepresentedObjectRole);
            popup->setItemData(index, entry.mask, ModifierMaskRole);
            popup->setItemData(index, entry.alternate, AlternateRole);
        }
    }
}

void QL_Preference_PanePref::updateUI() {
    if (!mainView())
        return;
    QL_Preferences& prefs = QL_Preferences::sharedPreferences();

    const std::optional<QString> panePath = pathToPreferencePane();
    const auto installed = panePath ? platform::Bundle::bundleWithPath(*panePath) : nullptr;
    const QString version =
        installed ? installed->objectForInfoDictionaryKey("CFBundleShortVersionString")
                        .value_or(QVariant())
                        .toString()
                  : QString();
    versionField->setText(installed ? QStringLiteral("Version %1").arg(version)
                                    : QStringLiteral("Error: Reinstall Required"));

    rebuildHotKeyPopup();

    if (prefs.firstRun()) {
        prefs.setFirstRun(false);
        showQuilloCheckbox->setChecked(true);
        valueDidChange(showQuilloCheckbox);
    }

    sortToDoPopup->setCurrentIndex(prefs.sortOrder());
    showDueDatesCheckbox->setChecked(prefs.showDueDates());
    showLabelsCheckbox->setChecked(prefs.showLabels());
    showTooltipsCheckbox->setChecked(prefs.showTooltips());
    selectCellWithTag(showInformationalIconsMatrix, prefs.informationalIcons());
    showQuilloCheckbox->setChecked(QL_MenuExtraIsPresent());
    highlighOverdueItemsCheckbox->setChecked(prefs.highlightOverdueItems());
    showDueCountOnIconCheckbox->setChecked(prefs.showDueCountOnIcon());
    showNextDueInToolTipCheckbox->setChecked(prefs.showNextDueInToolTip());
    symbolicMenuIconCheckbox->setChecked(prefs.symbolicMenuIcon());
    colorItemsCheckbox->setChecked(prefs.colorItemsByCalendarColor());
    doNotWarnCheckbox->setChecked(!prefs.warnWhenRemovingItems());

    hideToDoCheckbox->setChecked(prefs.hideToDoItemsAfterCompletion());
    if (prefs.hideToDoItemsAfterCompletion())
        hideToDoField->setEnabled(true);
    showDayCount(hideToDoField, prefs.numberOfDaysAfterCompletion());
    hideSubscribedCalendarsCheckbox->setChecked(prefs.hideSubscribedCalendars());
    showToDoCheckbox->setChecked(prefs.showToDoItemsDue());
    if (prefs.showToDoItemsDue())
        showToDoField->setEnabled(true);
    showDayCount(showToDoField, prefs.numberOfDaysBeforeDue());

    useSmallFontSizeCheckbox->setChecked(prefs.useSmallFontSize());
    selectCellWithTag(menuBarImageMatrix, prefs.menuIconImage());
    checkForUpdatesCheckbox->setChecked(prefs.checkForUpdatesOnLaunch());

    showModifierSet(modifierStatusMatrix, prefs.toggleStatusModifier());
    showModifierSet(modifierDeleteMatrix, prefs.removeToDoModifier());

    modifierKeyCheckbox->setChecked(prefs.useOpenMenuKey());
    if (prefs.useOpenMenuKey())
        modifierKeyPopup->setEnabled(true);
    modifierKeyPopup->setCurrentIndex(modifierKeyPopup->findData(
        QL_HotKeyTag(prefs.openMenuKey(), prefs.openMenuModifiers()), TagRole));

    showRemindersCheckbox->setChecked(prefs.showReminders());
    quickAddKeyCheckbox->setChecked(prefs.useQuickAddKey());
    quickAddKeyPopup->setEnabled(prefs.useQuickAddKey());
    quickAddKeyPopup->setCurrentIndex(quickAddKeyPopup->findData(
        QL_HotKeyTag(prefs.quickAddKey(), prefs.quickAddModifiers()), TagRole));
}

void QL_Preference_PanePref::valueDidChange(QObject* sender) {
    if (!sender || !mainView())
        return;
    QL_Preferences& prefs = QL_Preferences::sharedPreferences();
    auto checked = [sender] { return static_cast<QAbstractButton*>(sender)->isChecked(); };

    if (sender == sortToDoPopup) {
        if (sortToDoPopup->currentIndex() >= 0)
            prefs.setSortOrder(sortToDoPopup->currentIndex());
    } else if (sender == showDueDatesCheckbox) {
        prefs.setShowDueDates(checked());
    } else if (sender == showLabelsCheckbox) {
        prefs.setShowLabels(checked());
    } else if (sender == showTooltipsCheckbox) {
        prefs.setShowTooltips(checked());
    } else if (sender == showInformationalIconsMatrix) {
        if (const int tag = selectedCellTag(showInformationalIconsMatrix); tag >= 0)
            prefs.setInformationalIcons(tag);
    } else if (sender == showQuilloCheckbox) {
        if (!bundle())
            return;
        if (showQuilloCheckbox->isChecked())
            QL_AddMenuExtra(*bundle());
        else
            QL_RemoveMenuExtra();
        return;
    } else if (sender == highlighOverdueItemsCheckbox) {
        prefs.setHighlightOverdueItems(checked());
    } else if (sender == showDueCountOnIconCheckbox) {
        prefs.setShowDueCountOnIcon(checked());
    } else if (sender == showNextDueInToolTipCheckbox) {
        prefs.setShowNextDueInToolTip(checked());
    } else if (sender == symbolicMenuIconCheckbox) {
        prefs.setSymbolicMenuIcon(checked());
    } else if (sender == colorItemsCheckbox) {
        prefs.setColorItemsByCalendarColor(checked());
    } else if (sender == doNotWarnCheckbox) {
        prefs.setWarnWhenRemovingItems(!checked());
    } else if (sender == hideToDoCheckbox) {
        prefs.setHideToDoItemsAfterCompletion(checked());
        hideToDoField->setEnabled(checked());
    } else if (sender == showToDoCheckbox) {
        prefs.setShowToDoItemsDue(checked());
        showToDoField->setEnabled(checked());
    } else if (sender == hideToDoField || sender == showToDoField) {
        auto* field = static_cast<QLineEdit*>(sender);
        bool ok = false;
        const int days = field->text().toInt(&ok);
        if (!ok) { // not a whole number that fits: nothing is stored
            showDayCount(field, sender == hideToDoField ? prefs.numberOfDaysAfterCompletion()
                                                        : prefs.numberOfDaysBeforeDue());
            return;
        }
        if (sender == hideToDoField)
            prefs.setNumberOfDaysAfterCompletion(days);
        else
            prefs.setNumberOfDaysBeforeDue(days);
    } else if (sender == hideSubscribedCalendarsCheckbox) {
        prefs.setHideSubscribedCalendars(checked());
    } else if (sender == useSmallFontSizeCheckbox) {
        prefs.setUseSmallFontSize(checked());
    } else if (sender == menuBarImageMatrix) {
        if (const int tag = selectedCellTag(menuBarImageMatrix); tag >= 0)
            prefs.setMenuIconImage(tag);
    } else if (sender == checkForUpdatesCheckbox) {
        prefs.setCheckForUpdatesOnLaunch(checked());
    } else if (sender == modifierKeyCheckbox) {
        prefs.setUseOpenMenuKey(checked());
        modifierKeyPopup->setEnabled(checked());
    } else if (sender == quickAddKeyCheckbox) {
        prefs.setUseQuickAddKey(checked());
        quickAddKeyPopup->setEnabled(checked());
    } else if (sender == showRemindersCheckbox) {
        prefs.setShowReminders(checked());
    } else if (sender == modifierKeyPopup || sender == quickAddKeyPopup) {
        auto* popup = static_cast<QComboBox*>(sender);
        const int index = popup->currentIndex();
        const QVariant keyIndex = popup->itemData(index, RepresentedObjectRole);
        if (index < 0 || !keyIndex.isValid())
            return;
        // Both values are taken before the first write: each write notifies.
        const int keyCode = QL_KeyCodeForKeyIndex(keyIndex.toInt());
        const int modifiers =
            QL_ModifiersForPopupMask(popup->itemData(index, ModifierMaskRole).toUInt());
        if (popup == quickAddKeyPopup) {
            prefs.setQuickAddKey(keyCode);
            prefs.setQuickAddModifiers(modifiers);
        } else {
            prefs.setOpenMenuKey(keyCode);
            prefs.setOpenMenuModifiers(modifiers);
        }
    } else if (sender == modifierStatusMatrix) {
        prefs.setToggleStatusModifier(modifierSetOf(modifierStatusMatrix));
    } else if (sender == modifierDeleteMatrix) {
        prefs.setRemoveToDoModifier(modifierSetOf(modifierDeleteMatrix));
    }
}

void QL_Preference_PanePref::checkNowButton(QObject*) {
    QL_SoftwareUpdate().checkForUpdatesWithNotification(true);
}

void QL_Preference_PanePref::webSiteButton(QObject*) {
    platform::Workspace::sharedWorkspace().openURL(
        QUrl(QStringLiteral("https://www.orvane.com/quillo/")));
}

void QL_Preference_PanePref::supportButton(QObject*) {
    platform::Workspace::sharedWorkspace().openURL(
        QUrl(QStringLiteral("https://www.orvane.com/support/")));
}

void QL_Preference_PanePref::emailButton(QObject*) {
    platform::Workspace::sharedWorkspace().openURL(
        QUrl(QStringLiteral("mailto:quillo@orvane.com")));
}

void QL_Preference_PanePref::tabViewWillSelectTabViewItem(QTabWidget*, QWidget* tabViewItem) {
    if (!sideBarView || !tabViewItem)
        return;
    QWidget* view = valueForKey(tabViewItem->objectName().left(3) + QStringLiteral("View"));
    if (sideBarView->parentWidget() == view)
        return;
    // Detached first: a tab without a view of that name is left without the side bar.
    sideBarView->setParent(nullptr);
    if (!view)
        return;
    if (auto* layout = qobject_cast<QBoxLayout*>(view->layout()))
        layout->insertWidget(0, sideBarView);
    else
        sideBarView->setParent(view);
    sideBarView->show();
}

QWidget* QL_Preference_PanePref::valueForKey(const QString& key) const {
    if (!mainView())
        return nullptr;
    for (const char* name : outletNames)
        if (key == QLatin1String(name)) {
            // The side bar may be on no tab.
            if (key == QLatin1String("sideBarView"))
                return sideBarView;
            return mainView()->findChild<QWidget*>(key);
        }
    return nullptr;
}

int QL_Preference_PanePref::selectedCellTag(const QWidget* matrix) {
    for (QAbstractButton* cell : cellsOf(matrix))
        if (cell->isChecked())
            return cell->property("tag").toInt();
    return -1;
}

QAbstractButton* QL_Preference_PanePref::cellWithTag(const QWidget* matrix, int tag) {
    for (QAbstractButton* cell : cellsOf(matrix))
        if (cell->property("tag").toInt() == tag)
            return cell;
    return nullptr;
}
