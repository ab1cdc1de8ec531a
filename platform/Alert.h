#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace platform {

enum class AlertStyle { Warning, Informational, Critical };

// The button a modal alert was answered with: the first (default), second
// (alternate) or third (other) of the buttons it was given.
enum AlertButton : int {
    AlertFirstButton = 0,
    AlertSecondButton = 1,
    AlertThirdButton = 2,
};

struct Alert {
    AlertStyle style = AlertStyle::Warning;
    QString title;
    QString message;
    // Up to three; the first is the default. None gives a single "OK" button.
    QStringList buttons;
};

// Shows a modal alert and returns the button chosen. It always runs on the main
// thread: a call from another thread is handed over and waits for the answer.
// Without a widget application (and without a responder) nothing can be shown and
// the first button is returned.
AlertButton runModalAlert(const Alert& alert);

// Tests: a responder answers every alert instead of the user. It is called on the
// main thread, in place of the window. An empty function restores the window.
using AlertResponder = std::function<AlertButton(const Alert&)>;
void setAlertResponder(AlertResponder responder);

// A tool tip that shows text from a file or a feed as it is: a widget takes a tip that
// looks like markup for rich text, so such a text is escaped inside a paragraph that
// keeps its lines. Any other text is given back unchanged.
QString plainTextToolTip(const QString& text);

} // namespace platform
