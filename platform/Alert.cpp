#include "platform/Alert.h"
#include "platform/HandOver.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTextDocument>
#include <QThread>

#include <mutex>

namespace platform {
namespace {

std::mutex responderMutex;
AlertResponder responderSlot;

AlertResponder currentResponder() {
    std::lock_guard lock(responderMutex);
    return responderSlot;
}

QMessageBox::Icon iconFor(AlertStyle style) {
    switch (style) {
    case AlertStyle::Informational:
        return QMessageBox::Information;
    case AlertStyle::Critical:
        return QMessageBox::Critical;
    case AlertStyle::Warning:
        break;
    }
    return QMessageBox::Warning;
}

AlertButton showWindow(const Alert& alert) {
    QMessageBox box;
    box.setIcon(iconFor(alert.style));
    box.setWindowTitle(alert.title);
    // Alerts show text from files and feeds: never markup, never a live link.
    box.setTextFormat(Qt::PlainText);
    box.setText(alert.title);
    box.setInformativeText(alert.message);
    for (QLabel* label : box.findChildren<QLabel*>()) {
        label->setTextFormat(Qt::PlainText);
        label->setOpenExternalLinks(false);
    }
    // Roles only decide where the toolkit places a button; the answer is its position.
    static constexpr QMessageBox::ButtonRole roles[] = {
        QMessageBox::AcceptRole, QMessageBox::RejectRole, QMessageBox::ActionRole};
    QList<QAbstractButton*> buttons;
    for (qsizetype i = 0; i < alert.buttons.size() && i < 3; ++i)
        buttons.append(box.addButton(alert.buttons.at(i), roles[i]));
    if (buttons.isEmpty())
        buttons.append(box.addButton(QMessageBox::Ok));
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons.first()));
    box.setEscapeButton(buttons.size() > 1 ? buttons.at(1) : buttons.first());
    box.exec();
    const qsizetype chosen = buttons.indexOf(box.clickedButton());
    return chosen < 0 ? AlertFirstButton : AlertButton(chosen);
}

// Runs on the main thread (or on the only thread there is).
AlertButton answer(const Alert& alert) {
    if (const AlertResponder responder = currentResponder())
        return responder(alert);
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return AlertFirstButton;
    return showWindow(alert);
}

} // namespace

AlertButton runModalAlert(const Alert& alert) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread())
        return answer(alert);
    // Widgets live on the main thread only; hand the alert over and wait for it. The
    // hand-over queue (not a blocking queued call) lets the race detector see the
    // ordering, and gives up cleanly when the application goes away at quit.
    AlertButton result = AlertFirstButton;
    platform::runOnMainThreadAndWait([&] { result = answer(alert); });
    return result;
}

QString plainTextToolTip(const QString& text) {
    if (!Qt::mightBeRichText(text))
        return text;
    return QLatin1String("<p style=\"white-space:pre-wrap\">") + text.toHtmlEscaped() +
           QLatin1String("</p>");
}

void setAlertResponder(AlertResponder responder) {
    std::lock_guard lock(responderMutex);
    responderSlot = std::move(responder);
}

} // namespace platform
