#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <optional>

// The feed asked when the pane's Info.plist names none under "QLUpdateFeedURL".
extern const QString QLDefaultUpdateFeedURL;

// Asks the feed whether a newer version exists and tells the user. The feed is a
// property list (XML or binary) whose root dictionary holds "newVersionNumber" (a
// text or number), "newProductURL" and "newDownloadURL" (texts). The installed
// version is the pane's, whichever plug-in asks. Versions compare as plain decimal
// numbers: 1.2 is newer than 1.1.1, which reads as 1.1.
//
// A silent check speaks only of a newer version; a reporting check also says that
// the installed version is current, or that the check failed. Nothing is remembered
// between checks. The object holds no state: copy it, drop it, use it from any thread.
class QL_SoftwareUpdate {
public:
    // Starts one check on a detached thread of its own and returns at once; the check
    // needs nothing of the caller and may outlive this object. notify makes it a
    // reporting check.
    void checkForUpdatesWithNotification(bool notify) const;

    // The check itself, on the calling thread: fetches the feed (up to 5 seconds),
    // logs what it found, then shows its alert (on the main thread, waiting for the
    // answer) and opens the address chosen. Only http and https addresses are opened.
    void checkForUpdatesAndNotify(bool notify) const;

    // The body fetched from the address with a fresh GET, or nothing: no address, a
    // failed transfer, a status other than 200, more than 5 seconds, or a body over
    // 1 MiB.
    static std::optional<QByteArray> dataFromNSURLConnectionWithURL(const QUrl& url);
    // The fetched body as a property-list dictionary; nothing when there is no body, it
    // is not a property list, or its root is not a dictionary.
    static std::optional<QVariantMap> dictionaryFromNSURLConnectionWithURL(const QUrl& url);

    // The pane's "CFBundleVersion" as a decimal number (its leading numeric part);
    // 0 without a pane or without a number.
    static double installedVersion();
    // The pane's "QLUpdateFeedURL" when it is a text, else QLDefaultUpdateFeedURL.
    static QUrl updateFeedURL();

    // The checks started by checkForUpdatesWithNotification that have not ended yet.
    static int checksInProgress();
};
