// Bundles as plug-ins: loading by path, the principal object, destruction and unloading,
// and every way a folder can fail to be a menu-extra plug-in.
#include "common/TestEnv.h"

#include "platform/NSMenuExtra.h"
#include "platform/PlugIn.h"

#include <QApplication>
#include <QFile>
#include <QTest>

using platform::LoadedPrincipal;
using platform::NSMenuExtra;
using platform::PlugIn;

namespace {

QString bundlePath(const QString& folder) {
    return QStringLiteral(QUILLO_TEST_BUNDLES "/") + folder;
}

QString testLibrary(const QString& folder) {
    return bundlePath(folder) + QStringLiteral("/Contents/Linux/quillo_test_menuextra.so");
}

void writeConfigFile(const QString& name, const QByteArray& bytes) {
    QFile file(testenv::configHome() + QLatin1Char('/') + name);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

} // namespace

class TestPlugIn : public QObject {
    Q_OBJECT
private slots:
    void createsUsesAndUnloads() {
        writeConfigFile(QStringLiteral("test-menu.txt"), "first\nsecond\n");
        QVERIFY(!PlugIn::isLibraryLoaded(testLibrary(QStringLiteral("TestExtra.menu"))));
        QString why;
        auto loaded = LoadedPrincipal<NSMenuExtra>::load(
            bundlePath(QStringLiteral("TestExtra.menu")), "NSMenuExtra", &why);
        QVERIFY2(loaded, qPrintable(why));
        QVERIFY(PlugIn::isLibraryLoaded(testLibrary(QStringLiteral("TestExtra.menu"))));
        QCOMPARE(loaded->plugIn().principalClass(), QStringLiteral("TestMenuExtra"));
        // The object got its own bundle and works through the base class.
        NSMenuExtra* extra = loaded->object();
        QCOMPARE(extra->bundle()->bundleIdentifier(), QStringLiteral("org.quillo.test.extra"));
        QVERIFY(extra->image());
        QCOMPARE(extra->image()->name(), QStringLiteral("testIcon"));
        QCOMPARE(extra->alternateImage()->name(), QStringLiteral("testIconOpen"));
        platform::NSMenu* menu = extra->menu();
        QVERIFY(menu);
        QCOMPARE(platform::dumpMenu(*menu), QStringLiteral("\"Menu 1\" enabled tag=0\n"
                                                           "\"first\" enabled tag=0\n"
                                                           "\"second\" enabled tag=0\n"));

        // Destroying it runs the plug-in's destructor, then the code goes.
        loaded.reset();
        QVERIFY(!PlugIn::isLibraryLoaded(testLibrary(QStringLiteral("TestExtra.menu"))));

        // And it loads again afresh.
        loaded = LoadedPrincipal<NSMenuExtra>::load(bundlePath(QStringLiteral("TestExtra.menu")),
                                                    "NSMenuExtra", &why);
        QVERIFY2(loaded, qPrintable(why));
        QCOMPARE(loaded->object()->menu()->itemAtIndex(0)->title(), QStringLiteral("Menu 1"));
    }

    void twoPlugInsSideBySide() {
        QString why;
        auto first = LoadedPrincipal<NSMenuExtra>::load(
            bundlePath(QStringLiteral("TestExtra.menu")), "NSMenuExtra", &why);
        auto second = LoadedPrincipal<NSMenuExtra>::load(bundlePath(QStringLiteral("Second.menu")),
                                                         "NSMenuExtra", &why);
        QVERIFY(first && second);
        first->object()->menu();
        // Same code in two libraries: each keeps its own state.
        QCOMPARE(second->object()->menu()->itemAtIndex(0)->title(), QStringLiteral("Menu 1"));
        first.reset();
        QVERIFY(!PlugIn::isLibraryLoaded(testLibrary(QStringLiteral("TestExtra.menu"))));
        QCOMPARE(second->object()->menu()->itemAtIndex(0)->title(), QStringLiteral("Menu 2"));
    }

    void refused_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing path") << "Nowhere.menu"
                                      << "NSMenuExtra"
                                      << "no bundle folder";
        QTest::newRow("plain folder") << ""
                                      << "NSMenuExtra"
                                      << "no readable Contents/Info.plist";
        QTest::newRow("no executable named") << "NoExecutable.menu"
                                             << "NSMenuExtra"
                                             << "names no CFBundleExecutable";
        QTest::newRow("executable missing") << "MissingLibrary.menu"
                                            << "NSMenuExtra"
                                            << "is missing";
        QTest::newRow("executable outside the bundle") << "EscapingExecutable.menu"
                                                       << "NSMenuExtra"
                                                       << "names no CFBundleExecutable";
        QTest::newRow("no entry point") << "NoEntry.menu"
                                        << "NSMenuExtra"
                                        << "does not export QuilloPlugInCreate";
        QTest::newRow("principal class of another kind")
            << "WrongClass.menu"
            << "NSMenuExtra"
            << "QL_Preference_PanePref is not a NSMenuExtra";
        QTest::newRow("asked for another base class") << "TestExtra.menu"
                                                      << "NSPreferencePane"
                                                      << "TestMenuExtra is not a NSPreferencePane";
        QTest::newRow("initialisation fails") << "Failing.menu"
                                              << "NSMenuExtra"
                                              << "failed to initialise";
    }

    void refused() {
        QFETCH(QString, folder);
        QFETCH(QString, base);
        QFETCH(QString, reason);
        const QString path =
            folder.isEmpty() ? QStringLiteral(QUILLO_TEST_BUNDLES) : bundlePath(folder);
        QString why;
        const QByteArray baseName = base.toLatin1();
        auto loaded = LoadedPrincipal<NSMenuExtra>::load(path, baseName.constData(), &why);
        QVERIFY(!loaded);
        QVERIFY2(why.contains(reason), qPrintable(why));
        // A refused plug-in leaves no code behind.
        QVERIFY(!PlugIn::isLibraryLoaded(testLibrary(folder)));
    }
};

QUILLO_TEST_MAIN(TestPlugIn)
#include "tst_plugin.moc"
