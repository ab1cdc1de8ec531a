#pragma once

#include "platform/NotificationCenter.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>

namespace platform {

// The desktop's workspace services. One shared instance; every call is safe from any
// thread.
class Workspace {
public:
    static Workspace& sharedWorkspace();

    // A file changed at path. Nothing on this desktop needs telling, so this only
    // records the call (when recording is on).
    void noteFileSystemChanged(const QString& path);

    // Opens an address with the desktop's handler for its scheme (a web address in the
    // browser), on the main thread; a call from another thread waits for it. False when
    // there is no GUI application or the desktop could not open it. While recording is
    // on, the call is only recorded, so tests never start a browser.
    bool openURL(const QUrl& url);

    // Opens a file: a settings pane bundle (".prefPane") in the settings host,
    // preferences-host, found beside the running program or on PATH; any other file
    // with the desktop's default application for its type. False, with a log line,
    // when nothing could be started. While recording is on, the call is only recorded.
    bool openFile(const QString& path);
    // Starts an application by name: "iCal" is the desktop's default application for
    // text/calendar (its desktop entry's Exec line); any other name a program on PATH.
    // False, with a log line, when there is none or it cannot be started. While
    // recording is on, the call is only recorded.
    bool launchApplication(const QString& name);

    // The workspace's own in-process notification centre. The file watchers post on it
    // from their watcher threads, so its observers run on those threads.
    NotificationCenter& notificationCenter();

    // Tests: every workspace call made while recording is on is kept, in call order.
    struct Call {
        QString name; // the call, e.g. "noteFileSystemChanged"
        QStringList arguments;
        bool operator==(const Call&) const = default;
    };
    void setRecordsCalls(bool on);
    QList<Call> recordedCalls() const;
    void clearRecordedCalls();

    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    struct Private;

private:
    Workspace();
    ~Workspace();
    // Keeps the call when recording is on; true when it did.
    bool record(const QString& name, const QStringList& arguments);

    std::unique_ptr<Private> d;
};

} // namespace platform
