#pragma once

#include "platform/NSPreferencePane.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace Ui {
class QL_Preference_PanePref;
}

// The settings pane: every setting as a control, written as soon as the control
// changes; the controls follow the stored settings whenever any process changes
// them and whenever the menu-bar server adds or removes a menu extra.
class QL_Preference_PanePref : public QObject, public platform::NSPreferencePane {
    Q_OBJECT
public:
    explicit QL_Preference_PanePref(std::shared_ptr<const platform::Bundle> bundle);
    ~QL_Preference_PanePref() override;
    // The plug-in's principal object; nothing without a bundle.
    static std::unique_ptr<QL_Preference_PanePref>
    initWithBundle(std::shared_ptr<const platform::Bundle> bundle);

    void mainViewDidLoad() override;

    // Sets every control from the stored settings and rebuilds the hot-key popup.
    void updateUI();
    // A setting or the menu bar changed: the controls are set anew once control
    // returns to the event loop (several changes in a row give one update).
    void updateUINotification(const QString& name);
    // The action of every setting control: stores the setting of the sender.
    void valueDidChange(QObject* sender);
    // A reporting update check on a thread of its own.
    void checkNowButton(QObject* sender);
    // The maker's web site, support site and support e-mail address.
    void webSiteButton(QObject* sender);
    void supportButton(QObject* sender);
    void emailButton(QObject* sender);
    // Moves the side bar into the view of the tab about to be shown.
    void tabViewWillSelectTabViewItem(QTabWidget* tabView, QWidget* tabViewItem);

    // The outlet of that name ("genView"); null when there is none.
    QWidget* valueForKey(const QString& key) const;

    // The hot-key popup's item data.
    enum HotKeyRole {
        TagRole = 0x0100,      // int: mask | key index << 5
        RepresentedObjectRole, // int: the key index
        ModifierMaskRole,      // unsigned: the popup mask
        AlternateRole,         // bool
    };

    // Outlets, in declared order; null until the view is loaded. A matrix is a group
    // box whose cells carry their tag in the property "tag".
    QWidget* sideBarView = nullptr;
    QLabel* versionField = nullptr;
    QWidget* genView = nullptr;
    QComboBox* sortToDoPopup = nullptr;
    QCheckBox* showDueDatesCheckbox = nullptr;
    QCheckBox* showLabelsCheckbox = nullptr;
    QCheckBox* showTooltipsCheckbox = nullptr;
    QGroupBox* showInformationalIconsMatrix = nullptr;
    QCheckBox* highlighOverdueItemsCheckbox = nullptr;
    QCheckBox* showQuilloCheckbox = nullptr;
    QCheckBox* showDueCountOnIconCheckbox = nullptr;
    QCheckBox* showNextDueInToolTipCheckbox = nullptr;
    QCheckBox* symbolicMenuIconCheckbox = nullptr;
    QWidget* advView = nullptr;
    QCheckBox* colorItemsCheckbox = nullptr;
    QCheckBox* doNotWarnCheckbox = nullptr;
    QCheckBox* hideToDoCheckbox = nullptr;
    QLineEdit* hideToDoField = nullptr;
    QCheckBox* hideSubscribedCalendarsCheckbox = nullptr;
    QCheckBox* showToDoCheckbox = nullptr;
    QLineEdit* showToDoField = nullptr;
    QCheckBox* useSmallFontSizeCheckbox = nullptr;
    QGroupBox* menuBarImageMatrix = nullptr;
    QCheckBox* checkForUpdatesCheckbox = nullptr;
    // The action of the same name takes the plain name.
    QPushButton* checkNowButtonOutlet = nullptr;
    QWidget* modView = nullptr;
    QGroupBox* modifierStatusMatrix = nullptr;
    QGroupBox* modifierDeleteMatrix = nullptr;
    QCheckBox* modifierKeyCheckbox = nullptr;
    QComboBox* modifierKeyPopup = nullptr;
    QCheckBox* quickAddKeyCheckbox = nullptr;
    QComboBox* quickAddKeyPopup = nullptr;
    QCheckBox* showRemindersCheckbox = nullptr;
    // Not a setting: the tab view.
    QTabWidget* tabView = nullptr;

    // Matrix cells: the tag of the selected radio cell (-1 for none), the cell with a
    // tag (null for none).
    static int selectedCellTag(const QWidget* matrix);
    static QAbstractButton* cellWithTag(const QWidget* matrix, int tag);

protected:
    std::unique_ptr<QWidget> createMainView() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void takeOutlets();
    void localizeInterface(QWidget* root) const;
    void connectActions();
    void loadMenuIconImages();
    void rebuildHotKeyPopup();
    void showDayCount(QLineEdit* field, int days);
    QString text(const QString& key) const;

    std::unique_ptr<Ui::QL_Preference_PanePref> m_ui;
    QPointer<QWidget> m_sideBar; // the side bar while it exists
    bool m_updatePending = false;
};
