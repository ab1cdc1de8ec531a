#include "common/TestEnv.h"

#include "platform/Bundle.h"
#include "platform/PaneFolders.h"
#include "platform/PropertyList.h"
#include "shared/QL_PanePath.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

using platform::Bundle;

namespace {

const QString builtPane = QStringLiteral(QUILLO_BUILD_DIR "/Quillo.prefPane");

// Every key the system shows a text for (the settings window's labels last).
const QStringList requiredKeys{"CALENDAR_TOOLTIP",
                               "CANCEL_BUTTON",
                               "CANCELLED_TOOLTIP",
                               "COMPLETED",
                               "COMPLETED_TOOLTIP",
                               "COMPLETE_TO_DO",
                               "EDIT_TO_DO",
                               "NEXT_DUE_TOOLTIP",
                               "REMOVE_TO_DO",
                               "REOPEN_TO_DO",
                               "CREATED_ON_LABEL",
                               "CUSTOMIZE_TOOLBAR",
                               "DESCRIPTION_TOOLTIP",
                               "DUE_DATE_TOOLTIP",
                               "EDITOR_CALENDAR_LABEL",
                               "EDITOR_DUE_DATE_LABEL",
                               "EDITOR_NOTES_LABEL",
                               "EDITOR_OPEN_URL_BUTTON",
                               "EDITOR_PRIORITY_LABEL",
                               "EDITOR_STATUS_CANCELLED",
                               "EDITOR_STATUS_COMPLETED",
                               "EDITOR_STATUS_IN_PROCESS",
                               "EDITOR_STATUS_LABEL",
                               "EDITOR_STATUS_NEEDS_ACTION",
                               "EDITOR_STATUS_NONE",
                               "EDITOR_SUMMARY_LABEL",
                               "EDITOR_URL_LABEL",
                               "EDIT_TO_DO_TITLE",
                               "ERROR_UPDATE_TEXT",
                               "ERROR_UPDATE_TITLE",
                               "IMPORTANT",
                               "IN_PROCESS_TOOLTIP",
                               "MAC_OS_X_10_4_REQUIRED_TEXT",
                               "MAC_OS_X_10_4_REQUIRED_TITLE",
                               "NEEDS_ACTION_TOOLTIP",
                               "NEW_TO_DO",
                               "NEW_TO_DO_LABEL",
                               "NEW_TO_DO_TITLE",
                               "NO_DUE_DATE",
                               "NO_ICAL_CALENDARS",
                               "NO_PRIORITY",
                               "NO_TO_DO_ITEMS",
                               "NO_VISIBLE_CALENDARS",
                               "NOT_IMPORTANT",
                               "OK_BUTTON",
                               "OPEN_ICAL",
                               "OVER_A_WEEK",
                               "OVERDUE",
                               "OVERDUE_TOOLTIP",
                               "PAST_DUE_DATE",
                               "PRIORITY_TOOLTIP",
                               "QUILLO_SETTINGS",
                               "QUICK_ADD",
                               "QUICK_ADD_AMBIGUOUS_CALENDAR_HINT",
                               "QUICK_ADD_ENTER_HINT",
                               "QUICK_ADD_NO_CALENDAR_HINT",
                               "QUICK_ADD_NO_TITLE_HINT",
                               "QUICK_ADD_PLACEHOLDER",
                               "QUICK_ADD_TITLE_LABEL",
                               "QUICK_ADD_UNKNOWN_CALENDAR_HINT",
                               "QUICK_ADD_WINDOW_TITLE",
                               "REFRESH_MENU",
                               "REPEAT_EVERY_DAY",
                               "REPEAT_EVERY_MONTH",
                               "REPEAT_EVERY_N_DAYS",
                               "REPEAT_EVERY_N_MONTHS",
                               "REPEAT_EVERY_N_WEEKS",
                               "REPEAT_EVERY_N_YEARS",
                               "REPEAT_EVERY_WEEK",
                               "REPEAT_EVERY_YEAR",
                               "REPEAT_IN_MONTHS",
                               "REPEAT_ON_DAYS",
                               "REPEAT_ON_MONTH_DAYS",
                               "REPEAT_ORDINAL_1",
                               "REPEAT_ORDINAL_2",
                               "REPEAT_ORDINAL_3",
                               "REPEAT_ORDINAL_4",
                               "REPEAT_ORDINAL_5",
                               "REPEAT_ORDINAL_LAST",
                               "REPEAT_TIMES",
                               "REPEAT_TOOLTIP",
                               "REPEAT_UNTIL",
                               "REINSTALL_NEEDED_TEXT",
                               "REINSTALL_NEEDED_TITLE",
                               "REMINDER_SNOOZE",
                               "REMOVE_BUTTON",
                               "REMOVE_TO_DO_TEXT",
                               "REMOVE_TO_DO_TITLE",
                               "SOFTWARE_NEW_VERSION_DOWNLOAD",
                               "SOFTWARE_NEW_VERSION_IGNORE",
                               "SOFTWARE_NEW_VERSION_MORE_INFORMATION",
                               "SOFTWARE_NEW_VERSION_TEXT",
                               "SOFTWARE_NEW_VERSION_TITLE",
                               "SOFTWARE_UP_TO_DATE_TEXT",
                               "SOFTWARE_UP_TO_DATE_TITLE",
                               "STATUS_TOOLTIP",
                               "THIS_WEEK",
                               "TODAY",
                               "TOMORROW",
                               "TOOLBAR_ADD_FLEXIBLE_SPACE",
                               "TOOLBAR_ADD_SEPARATOR",
                               "TOOLBAR_ADD_SPACE",
                               "TOOLBAR_REMOVE_ITEM",
                               "TOOLBAR_RESTORE_DEFAULT",
                               "UNCOMPLETED",
                               "URL_TOOLTIP",
                               "VALARM_TOOLTIP",
                               "VERY_IMPORTANT",
                               "WRITE_FAILED_TEXT",
                               "WRITE_FAILED_TITLE",
                               "HOT_KEY_gQLk_1",
                               "HOT_KEY_gQLk_2",
                               "ADVANCED_TAB",
                               "COLOR_ITEMS_CHECKBOX",
                               "COMMAND_KEY",
                               "CONTROL_KEY",
                               "CHECK_FOR_UPDATES_CHECKBOX",
                               "CHECK_NOW_BUTTON",
                               "DAYS_LABEL",
                               "DO_NOT_WARN_CHECKBOX",
                               "EMAIL_BUTTON",
                               "GENERAL_TAB",
                               "HIDE_COMPLETED_CHECKBOX",
                               "HIDE_COMPLETED_DAYS_FIELD",
                               "HIDE_SUBSCRIBED_CHECKBOX",
                               "HIGHLIGHT_OVERDUE_CHECKBOX",
                               "ICONS_NONE",
                               "ICONS_PRIORITY",
                               "ICONS_STATUS",
                               "INFORMATIONAL_ICONS_LABEL",
                               "MENU_ICON_BLUE_CALENDAR",
                               "MENU_ICON_BLUE_CHECK",
                               "MENU_ICON_BLUE_LIST",
                               "MENU_ICON_GRAPHITE_CALENDAR",
                               "MENU_ICON_GRAPHITE_CHECK",
                               "MENU_ICON_GRAPHITE_LIST",
                               "MENU_ICON_LABEL",
                               "MODIFIERS_TAB",
                               "OPEN_MENU_KEY_LABEL",
                               "OPTION_KEY",
                               "PRODUCT_NAME",
                               "QUICK_ADD_KEY_LABEL",
                               "REMOVE_TO_DO_LABEL",
                               "SHIFT_KEY",
                               "SHOW_DUE_DATES_CHECKBOX",
                               "SHOW_DUE_SOON_CHECKBOX",
                               "SHOW_DUE_SOON_DAYS_FIELD",
                               "SHOW_LABELS_CHECKBOX",
                               "SHOW_QUILLO_CHECKBOX",
                               "SHOW_REMINDERS_CHECKBOX",
                               "SHOW_DUE_COUNT_ON_ICON_CHECKBOX",
                               "SHOW_NEXT_DUE_IN_TOOL_TIP_CHECKBOX",
                               "SYMBOLIC_MENU_ICON_CHECKBOX",
                               "SHOW_TOOLTIPS_CHECKBOX",
                               "SMALL_FONT_CHECKBOX",
                               "SORT_BY_CALENDAR",
                               "SORT_BY_DUE_DATE",
                               "SORT_BY_LABEL",
                               "SORT_BY_PRIORITY",
                               "SORT_BY_STATUS",
                               "SORT_BY_TITLE",
                               "SUPPORT_BUTTON",
                               "TOGGLE_STATUS_LABEL",
                               "USE_OPEN_MENU_KEY_CHECKBOX",
                               "USE_QUICK_ADD_KEY_CHECKBOX",
                               "VERSION_LABEL",
                               "WEB_SITE_BUTTON"};

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

bool writeTable(const QString& bundle, const QString& lproj, const QVariantMap& strings) {
    const std::optional<QByteArray> xml = platform::PropertyList::toData(strings);
    return xml && writeFile(bundle + QStringLiteral("/Contents/Resources/") + lproj +
                                QStringLiteral(".lproj/Quillo.strings"),
                            *xml);
}

// Replaces the folder lookups and the fixed folder for the life of the object.
class PaneFolders {
public:
    PaneFolders(bool lookupsWork) {
        QDir().mkpath(local());
        QDir().mkpath(user());
        QDir().mkpath(fixed());
        QDir().mkpath(inHome());
        const QString root = m_root.path();
        platform::setPreferencePanesFolderLookup(
            [lookupsWork, root](platform::FolderDomain domain) -> std::optional<QString> {
                if (!lookupsWork)
                    return std::nullopt;
                return root + (domain == platform::FolderDomain::Local ? QStringLiteral("/local")
                                                                       : QStringLiteral("/user"));
            });
        platform::setFixedPreferencePanesFolder(fixed());
    }
    ~PaneFolders() {
        platform::setPreferencePanesFolderLookup({});
        platform::setFixedPreferencePanesFolder(std::nullopt);
        QDir(inHome()).removeRecursively();
    }
    PaneFolders(const PaneFolders&) = delete;
    PaneFolders& operator=(const PaneFolders&) = delete;

    QString local() const { return m_root.path() + QStringLiteral("/local"); }
    QString user() const { return m_root.path() + QStringLiteral("/user"); }
    QString fixed() const { return m_root.path() + QStringLiteral("/fixed"); }
    static QString inHome() {
        return QDir::homePath() + QStringLiteral("/Library/PreferencePanes");
    }

    // A pane whose English "OK_BUTTON" names where it lies.
    QString install(const QString& folder, const QString& tag) const {
        const QString pane = folder + QStringLiteral("/Quillo.prefPane");
        writeTable(pane, QStringLiteral("en"), {{"OK_BUTTON", tag}});
        return pane;
    }

private:
    QTemporaryDir m_root;
};

} // namespace

class TestPanePath : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void searchOrder_data() {
        QTest::addColumn<bool>("lookupsWork");
        QTest::addColumn<QStringList>("installedIn");
        QTest::addColumn<QString>("expected");
        const QStringList everywhere{"local", "user", "fixed", "home"};
        QTest::newRow("everywhere: local domain wins") << true << everywhere << "local";
        QTest::newRow("machine-wide and user: local domain wins")
            << true << QStringList{"local", "user"} << "local";
        QTest::newRow("user only: user domain") << true << QStringList{"user"} << "user";
        QTest::newRow("user and fixed: user domain before the fixed path")
            << true << QStringList{"user", "fixed", "home"} << "user";
        QTest::newRow("lookups fail: fixed path")
            << false << QStringList{"local", "user", "fixed", "home"} << "fixed";
        QTest::newRow("lookups fail, only in home")
            << false << QStringList{"user", "home"} << "home";
        QTest::newRow("home only") << true << QStringList{"home"} << "home";
        QTest::newRow("nowhere") << true << QStringList{} << "";
        QTest::newRow("lookups fail, nowhere else") << false << QStringList{"local", "user"} << "";
    }

    void searchOrder() {
        QFETCH(bool, lookupsWork);
        QFETCH(QStringList, installedIn);
        QFETCH(QString, expected);
        PaneFolders folders(lookupsWork);
        const std::map<QString, QString> place{{"local", folders.local()},
                                               {"user", folders.user()},
                                               {"fixed", folders.fixed()},
                                               {"home", PaneFolders::inHome()}};
        for (const QString& where : installedIn)
            folders.install(place.at(where), where);

        const std::optional<QString> found = pathToPreferencePane();
        if (expected.isEmpty()) {
            QVERIFY(!found);
            QCOMPARE(QL_LocalizedString(QStringLiteral("OK_BUTTON")), QString());
        } else {
            QVERIFY(found);
            QCOMPARE(*found, place.at(expected) + QStringLiteral("/Quillo.prefPane"));
            QCOMPARE(QL_LocalizedString(QStringLiteral("OK_BUTTON")), expected);
        }
    }

    void realUserDomainFindsALinkToTheBuiltPane() {
        // What other suites do to make the pane findable.
        const QString folder = testenv::dataHome() + QStringLiteral("/PreferencePanes");
        QVERIFY(!platform::preferencePanesFolder(platform::FolderDomain::User));
        QVERIFY2(!QFileInfo::exists(folder), "the lookup must not create the folder");
        QVERIFY(QDir().mkpath(folder));
        const QString link = folder + QStringLiteral("/Quillo.prefPane");
        QVERIFY(QFile::link(builtPane, link));
        QCOMPARE(pathToPreferencePane(), std::optional<QString>(link));
        QCOMPARE(QL_LocalizedString(QStringLiteral("TODAY")), QStringLiteral("Today"));
        QVERIFY(QFile::remove(link));
        QVERIFY(!pathToPreferencePane());
    }

    void textsInTheUsersLanguage_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("English") << "en_US"
                                 << "TODAY"
                                 << "Today";
        QTest::newRow("German") << "de_DE"
                                << "TODAY"
                                << "Heute";
        QTest::newRow("Austrian German falls back to German") << "de_AT"
                                                              << "OK_BUTTON"
                                                              << "OK";
        QTest::newRow("German umlauts") << "de_DE"
                                        << "OPEN_ICAL" << QString::fromUtf8("Kalender öffnen");
        QTest::newRow("French falls back to English") << "fr_FR"
                                                      << "TOMORROW"
                                                      << "Tomorrow";
        QTest::newRow("missing key gives the empty default") << "de_DE"
                                                             << "NO_SUCH_KEY"
                                                             << "";
    }

    void textsInTheUsersLanguage() {
        QFETCH(QString, locale);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QLocale::setDefault(QLocale(locale));
        QCOMPARE(QL_LocalizedString(key, builtPane), expected);
    }

    void keyMissingInOneLanguageComesFromTheNext() {
        QTemporaryDir dir;
        const QString pane = dir.path() + QStringLiteral("/Quillo.prefPane");
        QVERIFY(writeTable(pane, "de", {{"A", "de A"}}));
        QVERIFY(writeTable(pane, "en", {{"A", "en A"}, {"B", "en B"}, {"N", 5}}));
        QVERIFY(writeFile(pane + "/Contents/Resources/fr.lproj/Quillo.strings", "not a plist"));
        const auto bundle = Bundle::bundleWithPath(pane);
        QVERIFY(bundle);
        const QStringList german{"de-DE"};
        QCOMPARE(bundle->localizedStringForKey("A", "x", "Quillo", german), "de A");
        QCOMPARE(bundle->localizedStringForKey("B", "x", "Quillo", german), "en B");
        QCOMPARE(bundle->localizedStringForKey("C", "x", "Quillo", german), "x");
        // Not a text, unreadable table, missing table, unsafe table name: the default.
        QCOMPARE(bundle->localizedStringForKey("N", "x", "Quillo", german), "x");
        QCOMPARE(bundle->localizedStringForKey("A", "x", "Quillo", {"fr"}), "en A");
        QCOMPARE(bundle->localizedStringForKey("A", "x", "Other", german), "x");
        QCOMPARE(bundle->localizedStringForKey("A", "x", "../de.lproj/Quillo", german), "x");
        // A table changed on disk is read again.
        QVERIFY(writeTable(pane, "de", {{"A", "de A2"}, {"Bx", "padding to change the size"}}));
        QCOMPARE(bundle->localizedStringForKey("A", "x", "Quillo", german), "de A2");
    }

    void localizationsForLanguages() {
        QCOMPARE(Bundle::localizationsFor({"de-AT", "en-GB"}),
                 QStringList({"de-AT", "de_AT", "de", "en-GB", "en_GB", "en"}));
        QCOMPARE(Bundle::localizationsFor({}), QStringList{"en"});
    }

    void resourcesAndImages() {
        QTemporaryDir dir;
        const QString b = dir.path() + QStringLiteral("/Quillo.menu");
        const QString res = b + QStringLiteral("/Contents/Resources/");
        QVERIFY(writeFile(res + "both.svg", "<svg/>"));
        QVERIFY(writeFile(res + "both.png", "png"));
        QVERIFY(writeFile(res + "bitmap.png", "png"));
        QVERIFY(writeFile(res + "old.tiff", "tiff"));
        QVERIFY(writeFile(res + "en.lproj/local.svg", "<svg/>"));
        QVERIFY(writeFile(res + "data.txt", "text"));
        QVERIFY(writeFile(dir.path() + "/outside.txt", "secret"));
        const auto bundle = Bundle::bundleWithPath(b);
        QVERIFY(bundle);
        QCOMPARE(bundle->pathForImageResource("both"), std::optional<QString>(res + "both.svg"));
        QCOMPARE(bundle->pathForImageResource("bitmap"),
                 std::optional<QString>(res + "bitmap.png"));
        QCOMPARE(bundle->pathForImageResource("old"), std::optional<QString>(res + "old.tiff"));
        QCOMPARE(bundle->pathForImageResource("both.png"),
                 std::optional<QString>(res + "both.png"));
        QCOMPARE(bundle->pathForImageResource("local"),
                 std::optional<QString>(res + "en.lproj/local.svg"));
        QVERIFY(!bundle->pathForImageResource("missing"));
        QCOMPARE(bundle->pathForResource("data", "txt"), std::optional<QString>(res + "data.txt"));
        QCOMPARE(bundle->pathForResource("data.txt", ""), std::optional<QString>(res + "data.txt"));
        QVERIFY(!bundle->pathForResource("../../../outside", "txt"));
        // No Info.plist: still a bundle, with empty information.
        QVERIFY(bundle->infoDictionary().isEmpty());
        QVERIFY(!bundle->bundleIdentifier());
        QVERIFY(!Bundle::bundleWithPath(dir.path() + "/missing"));
        QVERIFY(!Bundle::bundleWithPath(res + "data.txt"));
    }

    void builtPaneBundle() {
        const auto pane = Bundle::bundleWithPath(builtPane);
        QVERIFY(pane);
        QCOMPARE(pane->bundleIdentifier(), std::optional<QString>("com.orvane.quillo"));
        QCOMPARE(pane->objectForInfoDictionaryKey("CFBundleVersion").value_or(QVariant()),
                 QVariant(QStringLiteral(QUILLO_VERSION)));
        QCOMPARE(
            pane->objectForInfoDictionaryKey("CFBundleShortVersionString").value_or(QVariant()),
            QVariant(QStringLiteral(QUILLO_VERSION)));
        QStringList expected = requiredKeys;
        expected.sort();
        for (const char* lang : {"en", "de"}) {
            const std::optional<QVariantMap> table = platform::PropertyList::dictionaryFromFile(
                pane->resourcePath() + "/" + lang + ".lproj/Quillo.strings");
            QVERIFY(table);
            QCOMPARE(table->keys(), expected);
            for (auto it = table->cbegin(); it != table->cend(); ++it) {
                QVERIFY2(!it.value().toString().trimmed().isEmpty(), qPrintable(it.key()));
            }
            // The version format has exactly one placeholder.
            QCOMPARE(table->value("SOFTWARE_NEW_VERSION_TEXT").toString().count("%1"), 1);
        }
    }
};

QUILLO_TEST_MAIN_CORE(TestPanePath)
#include "tst_panepath.moc"
