// Rendering the menu model into a Qt menu, on the offscreen platform: what is drawn,
// the alternates under the Alt key, and when actions run.
#include "common/TestEnv.h"

#include "platform/MenuWidget.h"

#include <QApplication>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QtTest>

#include <functional>

using namespace platform;

namespace {

NSMenuItemPtr item(const QString& title, qreal points = 0, std::optional<QColor> color = {}) {
    auto made = std::make_shared<NSMenuItem>(title, NSAction{}, QString());
    QVariantMap attributes{{NSFontAttributeName, menuBarFontOfSize(points)}};
    if (color)
        attributes.insert(NSForegroundColorAttributeName, *color);
    made->setAttributedTitle(NSAttributedString(title, attributes));
    return made;
}

bool isRed(QRgb p) {
    return qRed(p) > 150 && qGreen(p) < 90 && qBlue(p) < 90;
}
bool isGreen(QRgb p) {
    return qGreen(p) > 150 && qRed(p) < 90 && qBlue(p) < 90;
}
bool isInk(QRgb p) {
    return qGray(p) < 110;
}

int countPixels(const QImage& image, const QRect& rect, const std::function<bool(QRgb)>& test) {
    int count = 0;
    const QRect area = rect.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += test(image.pixel(x, y)) ? 1 : 0;
    return count;
}

// The width of the columns in which the rectangle holds ink.
int inkWidth(const QImage& image, const QRect& rect) {
    int left = -1, right = -1;
    const QRect area = rect.intersected(image.rect());
    for (int x = area.left(); x <= area.right(); ++x)
        for (int y = area.top(); y <= area.bottom(); ++y)
            if (isInk(image.pixel(x, y))) {
                if (left < 0)
                    left = x;
                right = x;
                break;
            }
    return left < 0 ? 0 : right - left + 1;
}

bool showMenu(MenuWidget& menu) {
    menu.popup(QPoint(20, 20));
    return QTest::qWaitForWindowExposed(&menu);
}

// One key event as the window system delivers it (QTest would press and release the
// modifiers around the key as well).
void sendKey(QWidget& widget, QEvent::Type type, int key, Qt::KeyboardModifiers modifiers) {
    QKeyEvent event(type, key, modifiers);
    QApplication::sendEvent(&widget, &event);
}

void typeText(QWidget& widget, const QString& text) {
    for (const QChar c : text) {
        QKeyEvent event(QEvent::KeyPress, c.toUpper().unicode(), Qt::NoModifier, QString(c));
        QApplication::sendEvent(&widget, &event);
    }
}

QImage grabbed(MenuWidget& menu) {
    return menu.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestMenuWidget : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void textIsDrawnInItsColourAndFont();
    void disabledItemsStayGrey();
    void imagesAreDrawnAtTheScreensScale();
    void altShowsTheAlternateInItsPrimarysPlace();
    void choosingRunsTheActionAfterTheMenuHasClosed();
    void toolTipsKeepTheirLinesAndShowNoMarkup();
    void reloadFollowsTheModel();
    void longMenusOpenInParts();
    void longMenusScrollThroughTheRowsInView();

private:
    QTemporaryDir m_dir;
    QString m_greenSquare;
};

void TestMenuWidget::initTestCase() {
    QVERIFY(m_dir.isValid());
    m_greenSquare = m_dir.filePath("green.svg");
    QFile file(m_greenSquare);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"16\" height=\"16\">"
               "<rect width=\"16\" height=\"16\" fill=\"#00c000\"/></svg>");
}

void TestMenuWidget::textIsDrawnInItsColourAndFont() {
    NSMenu model;
    const NSMenuItemPtr plain = item(QStringLiteral("MMMMMMMMMMMM"));
    const NSMenuItemPtr red = item(QStringLiteral("MMMMMMMMMMMM"), 0, QColor(220, 0, 0));
    const NSMenuItemPtr small = item(QStringLiteral("MMMMMMMMMMMM"), 12);
    for (const auto& i : {plain, red, small})
        model.addItem(i);
    MenuWidget menu(model);
    QVERIFY(showMenu(menu));
    const QImage image = grabbed(menu);
    const QRect plainRect = menu.actionGeometry(menu.actionForItem(plain.get()));
    const QRect redRect = menu.actionGeometry(menu.actionForItem(red.get()));
    const QRect smallRect = menu.actionGeometry(menu.actionForItem(small.get()));

    QCOMPARE(countPixels(image, plainRect, isRed), 0);
    QVERIFY(countPixels(image, redRect, isRed) > 20);
    QCOMPARE(menu.actionForItem(small.get())->font(), menuBarFontOfSize(12));
    const int standardWidth = inkWidth(image, plainRect);
    const int smallWidth = inkWidth(image, smallRect);
    QVERIFY2(smallWidth > 0 && smallWidth < standardWidth,
             qPrintable(QStringLiteral("%1 vs %2").arg(smallWidth).arg(standardWidth)));
    menu.hide();
}

void TestMenuWidget::disabledItemsStayGrey() {
    NSMenu model;
    const NSMenuItemPtr red = item(QStringLiteral("MMMMMMMM"), 0, QColor(220, 0, 0));
    red->setEnabled(false);
    model.addItem(red);
    MenuWidget menu(model);
    QVERIFY(showMenu(menu));
    QAction* action = menu.actionForItem(red.get());
    QVERIFY(!action->isEnabled());
    const QImage image = grabbed(menu);
    QCOMPARE(countPixels(image, menu.actionGeometry(action), isRed), 0);
    QVERIFY(countPixels(image, menu.actionGeometry(action), [](QRgb p) { return qGray(p) < 200; }) >
            0);
    menu.hide();
}

void TestMenuWidget::imagesAreDrawnAtTheScreensScale() {
    NSMenu model;
    const NSMenuItemPtr withImage = item(QStringLiteral("Pictured"));
    withImage->setImage(NSImage::imageWithContentsOfFile(m_greenSquare));
    QVERIFY(withImage->image());
    const NSMenuItemPtr without = item(QStringLiteral("Bare"));
    model.addItem(withImage);
    model.addItem(without);
    MenuWidget menu(model);
    QVERIFY(showMenu(menu));
    const QImage image = grabbed(menu);
    QVERIFY(countPixels(image, menu.actionGeometry(menu.actionForItem(withImage.get())), isGreen) >
            50);
    QCOMPARE(countPixels(image, menu.actionGeometry(menu.actionForItem(without.get())), isGreen),
             0);
    // On a screen of twice the density the picture is drawn anew at that density, not
    // blown up from 16 pixels.
    const QPixmap sharp = menu.actionForItem(withImage.get())->icon().pixmap(QSize(16, 16), 2.0);
    QCOMPARE(sharp.size(), QSize(32, 32));
    QCOMPARE(sharp.devicePixelRatio(), 2.0);
    QVERIFY(isGreen(sharp.toImage().pixel(31, 31)));
    menu.hide();
}

void TestMenuWidget::altShowsTheAlternateInItsPrimarysPlace() {
    NSMenu model;
    const NSMenuItemPtr primary = item(QStringLiteral("NEW_TO_DO"));
    const NSMenuItemPtr alternate = item(QStringLiteral("OPEN_ICAL"));
    alternate->setAlternate(true);
    alternate->setKeyEquivalentModifierMask(NSAlternateKeyMask);
    const NSMenuItemPtr last = item(QStringLiteral("QUILLO_SETTINGS"));
    model.addItem(primary);
    model.addItem(alternate);
    model.addItem(NSMenuItem::separatorItem());
    model.addItem(last);
    MenuWidget menu(model);
    QVERIFY(showMenu(menu));
    QAction* primaryAction = menu.actionForItem(primary.get());
    QAction* alternateAction = menu.actionForItem(alternate.get());
    const QRect place = menu.actionGeometry(primaryAction);
    const QRect lastPlace = menu.actionGeometry(menu.actionForItem(last.get()));
    QVERIFY(primaryAction->isVisible());
    QVERIFY(!alternateAction->isVisible());

    sendKey(menu, QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
    QVERIFY(menu.isVisible()); // Alt does not close the menu
    QVERIFY(!primaryAction->isVisible());
    QVERIFY(alternateAction->isVisible());
    QTRY_COMPARE(menu.actionGeometry(alternateAction).topLeft(), place.topLeft());
    QCOMPARE(menu.actionGeometry(menu.actionForItem(last.get())).top(), lastPlace.top());

    // Alt with Shift is not the alternate's key set.
    sendKey(menu, QEvent::KeyPress, Qt::Key_Shift, Qt::AltModifier);
    QVERIFY(primaryAction->isVisible());
    QVERIFY(!alternateAction->isVisible());
    sendKey(menu, QEvent::KeyRelease, Qt::Key_Shift, Qt::AltModifier | Qt::ShiftModifier);
    QVERIFY(alternateAction->isVisible());

    sendKey(menu, QEvent::KeyRelease, Qt::Key_Alt, Qt::AltModifier);
    QVERIFY(primaryAction->isVisible());
    QVERIFY(!alternateAction->isVisible());
    QTRY_COMPARE(menu.actionGeometry(primaryAction).topLeft(), place.topLeft());
    menu.hide();
}

void TestMenuWidget::choosingRunsTheActionAfterTheMenuHasClosed() {
    NSMenu model;
    const NSMenuItemPtr chosen = item(QStringLiteral("Choose me"));
    NSMenuItem* sender = nullptr;
    bool menuWasOpen = true;
    MenuWidget* widget = nullptr;
    chosen->setAction(NSAction{QStringLiteral("toDoMenuItemSelected:"), [&](NSMenuItem* from) {
                                   sender = from;
                                   menuWasOpen = widget && widget->isVisible();
                               }});
    const NSMenuItemPtr inert = item(QStringLiteral("No action"));
    model.addItem(inert);
    model.addItem(chosen);
    MenuWidget menu(model);
    widget = &menu;
    QVERIFY(showMenu(menu));

    QTest::mouseClick(&menu, Qt::LeftButton, {},
                      menu.actionGeometry(menu.actionForItem(chosen.get())).center());
    QVERIFY(!sender); // not while the click is handled
    QTRY_COMPARE(sender, chosen.get());
    QVERIFY(!menuWasOpen);

    sender = nullptr;
    QVERIFY(showMenu(menu));
    QTest::mouseClick(&menu, Qt::LeftButton, {},
                      menu.actionGeometry(menu.actionForItem(inert.get())).center());
    QTRY_VERIFY(!menu.isVisible());
    QTest::qWait(20);
    QVERIFY(!sender);
}

void TestMenuWidget::toolTipsKeepTheirLinesAndShowNoMarkup() {
    NSMenu model;
    const NSMenuItemPtr tipped = item(QStringLiteral("Tipped"));
    tipped->setToolTip(QStringLiteral("Calendar: Work\rNotes: <b>bold</b> & more\r"));
    const NSMenuItemPtr untipped = item(QStringLiteral("Untipped"));
    model.addItem(tipped);
    model.addItem(untipped);
    MenuWidget menu(model);
    QVERIFY(menu.toolTipsVisible());
    QTextDocument document;
    document.setHtml(menu.actionForItem(tipped.get())->toolTip());
    QCOMPARE(document.toPlainText(), QStringLiteral("Calendar: Work\nNotes: <b>bold</b> & more"));
    // Without a tool tip Qt shows the title; nothing more is added.
    QCOMPARE(menu.actionForItem(untipped.get())->toolTip(), QStringLiteral("Untipped"));
}

void TestMenuWidget::reloadFollowsTheModel() {
    NSMenu model;
    model.addItem(item(QStringLiteral("One & two")));
    MenuWidget menu(model);
    QCOMPARE(menu.actions().size(), 1);
    QCOMPARE(menu.actions().first()->text(), QStringLiteral("One && two"));
    model.addItem(NSMenuItem::separatorItem());
    model.addItem(item(QStringLiteral("Three")));
    menu.reload();
    QCOMPARE(menu.actions().size(), 3);
    QVERIFY(menu.actions().at(1)->isSeparator());
    model.removeAllItems();
    menu.reload();
    QVERIFY(menu.actions().isEmpty());
}

void TestMenuWidget::longMenusOpenInParts() {
    NSMenu model;
    std::vector<NSMenuItemPtr> items;
    for (int i = 0; i < 50; ++i) {
        items.push_back(item(QStringLiteral("Item %1").arg(i, 2, 10, QLatin1Char('0'))));
        model.addItem(items.back());
        if (i == 9) { // an alternate right at the first cut stays with its primary
            const NSMenuItemPtr alternate = item(QStringLiteral("Alternate of 9"));
            alternate->setAlternate(true);
            alternate->setKeyEquivalentModifierMask(NSAlternateKeyMask);
            model.addItem(alternate);
        }
    }
    NSMenuItem* chosen = nullptr;
    items[37]->setAction(
        NSAction{QStringLiteral("pick:"), [&](NSMenuItem* from) { chosen = from; }});
    model.addItem(NSMenuItem::separatorItem());
    const NSMenuItemPtr settings = item(QStringLiteral("Settings"));
    model.addItem(settings);

    MenuWidget menu(model, 10);
    // 10 items and the alternate, four parts, the separator and the settings item.
    QCOMPARE(menu.actions().size(), 11 + 4 + 2);
    QCOMPARE(menu.parts().size(), 4);
    QCOMPARE(menu.parts().first()->title(), QStringLiteral("Item 10 \u2013 Item 19"));
    QCOMPARE(menu.parts().last()->title(), QStringLiteral("Item 40 \u2013 Item 49"));
    QVERIFY(menu.actionForItem(settings.get()));
    QVERIFY(!menu.actionForItem(items[37].get())); // not made before its part opens

    QMenu* part = menu.parts().at(2);
    QVERIFY(showMenu(menu));
    part->popup(QPoint(200, 20));
    QVERIFY(QTest::qWaitForWindowExposed(part));
    QAction* action = menu.actionForItem(items[37].get());
    QVERIFY(action);
    QCOMPARE(part->actions().size(), 10);
    QTest::mouseClick(part, Qt::LeftButton, {}, part->actionGeometry(action).center());
    QTRY_COMPARE(chosen, items[37].get());

    // Alt in an open part switches alternates as in the menu itself.
    sendKey(*part, QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
    QCOMPARE(menu.heldModifierMask(), unsigned(NSAlternateKeyMask));
    QVERIFY(!menu.actionForItem(items[9].get())->isVisible());
    sendKey(*part, QEvent::KeyRelease, Qt::Key_Alt, Qt::AltModifier);
    QVERIFY(menu.actionForItem(items[9].get())->isVisible());
    part->hide();
    menu.hide();

    // Up to the limit nothing is split.
    menu.setMaximumItemsPerLevel(100);
    QVERIFY(menu.parts().isEmpty());
    QCOMPARE(menu.actions().size(), model.numberOfItems());
}

void TestMenuWidget::longMenusScrollThroughTheRowsInView() {
    // 2,000 items, a disabled label among them, an alternate, and a last section.
    NSMenu model;
    std::vector<NSMenuItemPtr> items;
    for (int i = 0; i < 2000; ++i) {
        items.push_back(item(QStringLiteral("Item %1").arg(i, 4, 10, QLatin1Char('0'))));
        model.addItem(items.back());
        if (i == 1500) {
            const NSMenuItemPtr alternate = item(QStringLiteral("Alternate of 1500"));
            alternate->setAlternate(true);
            alternate->setKeyEquivalentModifierMask(NSAlternateKeyMask);
            model.addItem(alternate);
        }
    }
    items[1000]->setEnabled(false);
    items[1800]->setToolTip(QStringLiteral("Calendar: Work"));
    NSMenuItem* chosen = nullptr;
    items[1800]->setAction(
        NSAction{QStringLiteral("pick:"), [&](NSMenuItem* from) { chosen = from; }});
    model.addItem(NSMenuItem::separatorItem());
    const NSMenuItemPtr settings = item(QStringLiteral("Settings"));
    model.addItem(settings);
    const std::size_t count = std::size_t(model.numberOfItems());
    const auto indexOf = [&](const NSMenuItemPtr& wanted) {
        return std::size_t(std::find(model.itemArray().begin(), model.itemArray().end(), wanted) -
                           model.itemArray().begin());
    };

    MenuWidget menu(model);
    QVERIFY(menu.isWindowed());
    const int screenHeight = QGuiApplication::primaryScreen()->availableGeometry().height();
    QVERIFY(menu.actions().size() > 5 && menu.actions().size() < 100);
    QVERIFY(menu.sizeHint().height() <= screenHeight);
    QVERIFY(menu.actionForItem(items[0].get()));
    QVERIFY(!menu.actionForItem(settings.get()));
    QVERIFY(showMenu(menu));
    QVERIFY(!grabbed(menu).isNull());
    const std::size_t rows = menu.rowsInView().second - menu.rowsInView().first;

    const auto isActive = [&](const NSMenuItemPtr& wanted) {
        QAction* action = menu.actionForItem(wanted.get());
        return action && menu.activeAction() == action;
    };
    // End, then Down rounds to the top; Home; Down row by row past the bottom of the view.
    sendKey(menu, QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
    QVERIFY(isActive(settings));
    QCOMPARE(menu.rowsInView().second, count);
    sendKey(menu, QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QVERIFY(isActive(items[0]));
    QCOMPARE(menu.rowsInView().first, std::size_t(0));
    sendKey(menu, QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
    sendKey(menu, QEvent::KeyPress, Qt::Key_Home, Qt::NoModifier);
    QVERIFY(isActive(items[0]));
    for (std::size_t i = 0; i < rows + 5; ++i)
        sendKey(menu, QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QVERIFY(isActive(items[rows + 5]));
    QCOMPARE(menu.rowsInView().second, rows + 6);
    sendKey(menu, QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
    QVERIFY(isActive(items[rows + 5 + rows - 1]));
    sendKey(menu, QEvent::KeyPress, Qt::Key_PageUp, Qt::NoModifier);
    QVERIFY(isActive(items[rows + 5]));

    // The disabled item is passed over, both ways.
    menu.scrollToItem(999);
    QVERIFY(isActive(items[999]));
    sendKey(menu, QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QVERIFY(isActive(items[1001]));
    sendKey(menu, QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    QVERIFY(isActive(items[999]));

    // The wheel moves the view three rows a notch, and not past either end.
    menu.scrollToItem(0);
    const auto wheel = [&](int angle) {
        QWheelEvent event(QPointF(10, 10), menu.mapToGlobal(QPointF(10, 10)), QPoint(),
                          QPoint(0, angle), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&menu, &event);
    };
    wheel(-120);
    QCOMPARE(menu.rowsInView().first, std::size_t(3));
    wheel(240);
    QCOMPARE(menu.rowsInView().first, std::size_t(0));
    // The pointer resting at the bottom edge moves the view down, at the top back up.
    const auto hover = [&](int y) {
        QMouseEvent event(QEvent::MouseMove, QPointF(30, y), menu.mapToGlobal(QPointF(30, y)),
                          Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&menu, &event);
    };
    hover(menu.height() - 2);
    QTRY_VERIFY(menu.rowsInView().first >= 3);
    hover(menu.height() / 2);
    const std::size_t stopped = menu.rowsInView().first;
    QTest::qWait(120);
    QCOMPARE(menu.rowsInView().first, stopped);
    hover(1);
    QTRY_COMPARE(menu.rowsInView().first, std::size_t(0));
    hover(menu.height() / 2);

    // Type-ahead finds an item far out of view; its tool tip is there; Return chooses it.
    typeText(menu, QStringLiteral("item 18"));
    QVERIFY(isActive(items[1800]));
    QCOMPARE(menu.actionForItem(items[1800].get())->toolTip(),
             QStringLiteral("<p style=\"white-space:pre-wrap\">Calendar: Work</p>"));

    // Alt shows the alternate in its primary's place in a scrolled view.
    const std::size_t alternateIndex = indexOf(items[1500]) + 1;
    menu.scrollToItem(alternateIndex - 1);
    sendKey(menu, QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
    QAction* alternate = menu.actionForItem(model.itemAtIndex(int(alternateIndex)).get());
    QVERIFY(alternate && alternate->isVisible());
    QVERIFY(!menu.actionForItem(items[1500].get())->isVisible());
    sendKey(menu, QEvent::KeyRelease, Qt::Key_Alt, Qt::AltModifier);
    QVERIFY(!alternate->isVisible());

    // However far it went, the menu holds about a screenful of actions.
    QVERIFY(menu.actions().size() < 100);
    menu.scrollToItem(indexOf(items[1800]));
    sendKey(menu, QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QTRY_COMPARE(chosen, items[1800].get());
    QVERIFY(!menu.isVisible());
}

QUILLO_TEST_MAIN(TestMenuWidget)
#include "tst_menuwidget.moc"
