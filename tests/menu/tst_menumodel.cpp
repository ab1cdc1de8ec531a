// The platform's menu model, its text dump, fonts, images and the menu-extra base.
#include "common/TestEnv.h"

#include "platform/DateStyles.h"
#include "platform/NSMenu.h"
#include "platform/NSMenuExtra.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace platform;

namespace {

QString writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

const QByteArray squareSvg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"16\" height=\"16\">"
                             "<rect width=\"16\" height=\"16\" fill=\"#00c000\"/></svg>";

NSAttributedString titled(const QString& text, qreal points, std::optional<QColor> color = {}) {
    QVariantMap attributes{{NSFontAttributeName, menuBarFontOfSize(points)}};
    if (color)
        attributes.insert(NSForegroundColorAttributeName, *color);
    return NSAttributedString(text, attributes);
}

class Host : public NSMenuExtraHost {
public:
    void menuExtraImagesChanged(NSMenuExtra*) override { ++imageChanges; }
    void menuExtraPopUpMenu(NSMenuExtra*, NSMenu* menu) override { poppedUp = menu; }
    int imageChanges = 0;
    NSMenu* poppedUp = nullptr;
};

} // namespace

class TestMenuModel : public QObject {
    Q_OBJECT
private slots:
    void dumpShowsEveryPropertyOfEveryItem();
    void insertAtIndex_data();
    void insertAtIndex();
    void smallFontIsRelativeToTheStandardSize();
    void imagesComeOnlyFromReadablePictures();
    void menuExtraKeepsItsImagesAndTellsItsHost();
    void dateStylesFollowTheLocale();
};

void TestMenuModel::dumpShowsEveryPropertyOfEveryItem() {
    QTemporaryDir dir;
    const auto image = NSImage::imageWithContentsOfFile(
        writeFile(dir.filePath("graphiteStatusChecked.svg"), squareSvg));
    QVERIFY(image);

    NSMenu menu;
    int calls = 0;
    auto primary = std::make_shared<NSMenuItem>(
        QStringLiteral("New"),
        NSAction{QStringLiteral("newToDoMenuItemSelected:"), [&](NSMenuItem*) { ++calls; }},
        QString());
    primary->setAttributedTitle(titled(QStringLiteral("New"), 0));
    auto alternate = std::make_shared<NSMenuItem>(
        QStringLiteral("Open"), NSAction{QStringLiteral("openiCal:"), [](NSMenuItem*) {}},
        QString());
    alternate->setAlternate(true);
    alternate->setKeyEquivalentModifierMask(NSAlternateKeyMask | NSShiftKeyMask);
    auto label = std::make_shared<NSMenuItem>(QStringLiteral("Work \"A\""), NSAction{}, QString());
    label->setEnabled(false);
    auto toDo = std::make_shared<NSMenuItem>(
        QStringLiteral("Call bank"),
        NSAction{QStringLiteral("toDoMenuItemSelected:"), [](NSMenuItem*) {}}, QStringLiteral("k"));
    toDo->setAttributedTitle(titled(QStringLiteral("Call\tbank"), 12, QColor(0x12, 0x34, 0x56)));
    toDo->setTag(7);
    toDo->setImage(image);
    toDo->setToolTip(QStringLiteral("Calendar: Work\rNotes: a\nb"));
    auto emptyTip = std::make_shared<NSMenuItem>(QString(), NSAction{}, QString());
    emptyTip->setToolTip(QString());

    menu.addItem(label);
    menu.addItem(toDo);
    menu.addItem(emptyTip);
    menu.insertItem(NSMenuItem::separatorItem(), 0);
    menu.insertItem(alternate, 0);
    menu.insertItem(primary, 0);

    const QString expected = QStringLiteral(
        "\"New\" enabled tag=0 action=newToDoMenuItemSelected: font=standard\n"
        "\"Open\" enabled alternate(shift+option) tag=0 action=openiCal:\n"
        "----\n"
        "\"Work \\\"A\\\"\" disabled tag=0\n"
        "\"Call\\tbank\" enabled image=graphiteStatusChecked tag=7 action=toDoMenuItemSelected: "
        "key=\"k\" font=12pt color=#123456 plain=\"Call bank\"\n"
        "    tip: Calendar: Work\\r\n"
        "    tip: Notes: a\\n\n"
        "    tip: b\n"
        "\"\" enabled tag=0\n"
        "    tip: \n");
    QCOMPARE(dumpMenu(menu), expected);
    menu.itemAtIndex(0)->action().call(menu.itemAtIndex(0).get());
    QCOMPARE(calls, 1);
    QVERIFY(!menu.itemAtIndex(6));
    QVERIFY(!menu.itemAtIndex(-1));
    menu.removeAllItems();
    QCOMPARE(dumpMenu(menu), QString());
}

void TestMenuModel::insertAtIndex_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("order");
    QTest::newRow("front") << 0 << "xabc";
    QTest::newRow("middle") << 2 << "abxc";
    QTest::newRow("end") << 3 << "abcx";
    QTest::newRow("past the end appends") << 9 << "abcx";
    QTest::newRow("negative goes first") << -4 << "xabc";
}

void TestMenuModel::insertAtIndex() {
    QFETCH(int, index);
    QFETCH(QString, order);
    NSMenu menu;
    for (const char* t : {"a", "b", "c"})
        menu.addItem(std::make_shared<NSMenuItem>(QString::fromLatin1(t), NSAction{}, QString()));
    menu.insertItem(std::make_shared<NSMenuItem>(QStringLiteral("x"), NSAction{}, QString()),
                    index);
    QString seen;
    for (const NSMenuItemPtr& item : menu.itemArray())
        seen += item->title();
    QCOMPARE(seen, order);
    QCOMPARE(menu.numberOfItems(), 4);
}

void TestMenuModel::smallFontIsRelativeToTheStandardSize() {
    const QFont standard = menuBarFontOfSize(0);
    const QFont small = menuBarFontOfSize(12);
    QCOMPARE(standard, QApplication::font("QMenu"));
    QVERIFY(standard.pointSizeF() > 0);
    QCOMPARE(small.pointSizeF(), standard.pointSizeF() * 12 / 14);
    QCOMPARE(small.family(), standard.family());
    QCOMPARE(menuBarFontOfSize(14), standard);

    // The same relation with a larger desktop font.
    QFont big = standard;
    big.setPointSizeF(20);
    QApplication::setFont(big, "QMenu");
    QCOMPARE(menuBarFontOfSize(0).pointSizeF(), 20.0);
    QCOMPARE(menuBarFontOfSize(12).pointSizeF(), 20.0 * 12 / 14);
    QApplication::setFont(standard, "QMenu");
}

void TestMenuModel::imagesComeOnlyFromReadablePictures() {
    QTemporaryDir dir;
    QVERIFY(!NSImage::imageWithContentsOfFile(dir.filePath("missing.svg")));
    QVERIFY(!NSImage::imageWithContentsOfFile(QString()));
    QVERIFY(!NSImage::imageWithContentsOfFile(dir.path()));
    QVERIFY(
        !NSImage::imageWithContentsOfFile(writeFile(dir.filePath("text.png"), "not a picture")));
    const auto image =
        NSImage::imageWithContentsOfFile(writeFile(dir.filePath("a.b_Alt.svg"), squareSvg));
    QVERIFY(image);
    QCOMPARE(image->name(), QStringLiteral("a.b_Alt"));
    QCOMPARE(image->path(), QDir(dir.path()).absoluteFilePath("a.b_Alt.svg"));
}

void TestMenuModel::menuExtraKeepsItsImagesAndTellsItsHost() {
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("Extra.menu/Contents/Resources"));
    const auto bundle = Bundle::bundleWithPath(dir.filePath("Extra.menu"));
    QVERIFY(bundle);
    const auto image =
        NSImage::imageWithContentsOfFile(writeFile(dir.filePath("icon.svg"), squareSvg));

    NSMenuExtra extra(bundle);
    QCOMPARE(extra.bundle(), bundle);
    QVERIFY(!extra.menu());
    extra.setImage(image); // no host yet: only kept
    QCOMPARE(extra.image(), image);

    Host host;
    extra.setHost(&host);
    extra.setAlternateImage(image);
    extra.setImage(nullptr);
    QCOMPARE(host.imageChanges, 2);
    QCOMPARE(extra.alternateImage(), image);
    QVERIFY(!extra.image());
    NSMenu menu;
    extra.popUpMenu(&menu);
    QCOMPARE(host.poppedUp, &menu);
    extra.setHost(nullptr);
    extra.popUpMenu(nullptr);
    QCOMPARE(host.poppedUp, &menu);
}

void TestMenuModel::dateStylesFollowTheLocale() {
    const QDateTime date(QDate(2007, 1, 15), QTime(0, 0));
    const QString shortText = stringFromDate(date, NSDateFormatterShortStyle);
    const QString longText = stringFromDate(date, NSDateFormatterLongStyle);
    QVERIFY2(shortText.contains(QLatin1String("15")), qPrintable(shortText));
    QVERIFY2(longText.contains(QLatin1String("2007")), qPrintable(longText));
    QVERIFY(longText.size() > shortText.size());
    // An instant late in the day elsewhere is still the local day.
    QCOMPARE(stringFromDate(QDateTime(QDate(2007, 1, 15), QTime(23, 30)), NSDateFormatterLongStyle),
             longText);
}

QUILLO_TEST_MAIN(TestMenuModel)
#include "tst_menumodel.moc"
