// The modal alert service: the window, the answer, and the hand-over to the main thread.
#include "common/TestEnv.h"

#include "platform/Alert.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTextDocument>
#include <QThread>
#include <QTimer>

#include <atomic>

using platform::Alert;
using platform::AlertButton;
using platform::AlertStyle;

namespace {

struct SeenWindow {
    QString text;
    QString informativeText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    bool onMainThread = false;
    // What each label of the window shows, and whether it takes it as markup.
    QStringList labels;
    bool anyMarkup = false;
};

// Waits for the alert window, notes what it shows and clicks the button at index
// (counted in the order the buttons were given, whatever their place on screen).
void answerWindowWith(int index, SeenWindow& seen) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, index, &seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        timer->stop();
        timer->deleteLater();
        seen.text = box->text();
        seen.informativeText = box->informativeText();
        seen.icon = box->icon();
        for (const QLabel* label : box->findChildren<QLabel*>()) {
            if (label->text().isEmpty())
                continue;
            seen.labels.append(label->text());
            seen.anyMarkup = seen.anyMarkup || label->textFormat() != Qt::PlainText ||
                             label->openExternalLinks();
        }
        seen.onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        const QList<QAbstractButton*> buttons = box->buttons();
        for (QAbstractButton* b : buttons)
            seen.buttons.append(b->text());
        QList<QAbstractButton*> given;
        for (const char* name : {"First", "Second", "Third", "OK", "&OK"})
            for (QAbstractButton* b : buttons)
                if (b->text() == QLatin1String(name))
                    given.append(b);
        if (index < given.size())
            given.at(index)->click();
        else
            box->reject();
    });
    timer->start();
}

} // namespace

class TestAlert : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { platform::setAlertResponder({}); }

    void windowShowsTheAlertAndReportsTheButton_data() {
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<int>("click");
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("icon");
        QTest::newRow("second of three")
            << QStringList{"First", "Second", "Third"} << 1 << int(AlertStyle::Informational)
            << int(QMessageBox::Information);
        QTest::newRow("third of three") << QStringList{"First", "Second", "Third"} << 2
                                        << int(AlertStyle::Warning) << int(QMessageBox::Warning);
        QTest::newRow("the only one")
            << QStringList{"First"} << 0 << int(AlertStyle::Critical) << int(QMessageBox::Critical);
        QTest::newRow("none given is OK")
            << QStringList{} << 0 << int(AlertStyle::Critical) << int(QMessageBox::Critical);
    }

    void windowShowsTheAlertAndReportsTheButton() {
        QFETCH(QStringList, buttons);
        QFETCH(int, click);
        QFETCH(int, style);
        QFETCH(int, icon);
        SeenWindow seen;
        answerWindowWith(click, seen);
        const AlertButton chosen = platform::runModalAlert(
            Alert{AlertStyle(style), QStringLiteral("Title"), QStringLiteral("Message"), buttons});
        QCOMPARE(int(chosen), click);
        QCOMPARE(seen.text, QStringLiteral("Title"));
        QCOMPARE(seen.informativeText, QStringLiteral("Message"));
        QCOMPARE(int(seen.icon), icon);
        QCOMPARE(seen.buttons.size(), qMax<qsizetype>(buttons.size(), 1));
    }

    // A feed's or a file's text in an alert is shown as it is: no bold, no picture, no
    // link that opens a local file.
    void textIsNeverMarkup() {
        const QString title = QStringLiteral("<b>Version 9</b>");
        const QString message =
            QStringLiteral("<a href=\"file:///etc/passwd\">notes</a> <img src=\"x.png\">");
        SeenWindow seen;
        answerWindowWith(0, seen);
        platform::runModalAlert(Alert{AlertStyle::Informational, title, message, {"First"}});
        QVERIFY(!seen.anyMarkup);
        QVERIFY2(seen.labels.contains(title), qPrintable(seen.labels.join('|')));
        QVERIFY2(seen.labels.contains(message), qPrintable(seen.labels.join('|')));
    }

    void toolTipsShowTextAsItIs() {
        QCOMPARE(platform::plainTextToolTip("Work & home"), QStringLiteral("Work & home"));
        const QString markup = QStringLiteral("<b>bold</b>\n<img src=\"x\">");
        const QString tip = platform::plainTextToolTip(markup);
        QVERIFY(Qt::mightBeRichText(tip));
        QTextDocument shown;
        shown.setHtml(tip);
        QCOMPARE(shown.toPlainText(), markup);
    }

    void callFromAnotherThreadRunsOnTheMainThreadAndWaits() {
        SeenWindow seen;
        answerWindowWith(1, seen);
        std::atomic<int> chosen{-1};
        QThread* worker = QThread::create([&] {
            chosen =
                platform::runModalAlert(Alert{AlertStyle::Warning, "T", "M", {"First", "Second"}});
        });
        worker->start();
        QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 10000);
        delete worker;
        QCOMPARE(chosen.load(), int(platform::AlertSecondButton));
        QVERIFY(seen.onMainThread);
        QCOMPARE(seen.text, QStringLiteral("T"));
    }

    void responderAnswersInsteadOfTheUser() {
        QList<Alert> recorded;
        std::atomic<bool> onMainThread{false};
        platform::setAlertResponder([&](const Alert& alert) {
            recorded.append(alert);
            onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
            return platform::AlertThirdButton;
        });
        std::atomic<int> chosen{-1};
        QThread* worker = QThread::create([&] {
            chosen =
                platform::runModalAlert(Alert{AlertStyle::Critical, "T", "M", {"A", "B", "C"}});
        });
        worker->start();
        QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 10000);
        delete worker;
        QCOMPARE(chosen.load(), int(platform::AlertThirdButton));
        QVERIFY(onMainThread);
        QCOMPARE(recorded.size(), 1);
        QCOMPARE(recorded.at(0).buttons, (QStringList{"A", "B", "C"}));
        QVERIFY(!QApplication::activeModalWidget());
    }
};

QUILLO_TEST_MAIN(TestAlert)
#include "tst_alert.moc"
