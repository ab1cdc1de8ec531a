#include "platform/Workspace.h"

#include "platform/HandOver.h"

#include <QDesktopServices>

#include <mutex>

namespace platform {

struct Workspace::Private {
    NotificationCenter center;
    mutable std::mutex mutex;
    bool recording = false;
    QList<Call> calls;
};

Workspace::Workspace() : d(std::make_unique<Private>()) {}

Workspace::~Workspace() = default;

Workspace& Workspace::sharedWorkspace() {
    // Never destroyed: watcher threads may still post while the process exits.
    static Workspace* shared = new Workspace;
    return *shared;
}

void Workspace::noteFileSystemChanged(const QString& path) {
    record(QStringLiteral("noteFileSystemChanged"), {path});
}

bool Workspace::openURL(const QUrl& url) {
    if (record(QStringLiteral("openURL"), {url.toString()}))
        return true;
    bool opened = false;
    // The desktop services belong to the GUI thread.
    runOnMainThreadAndWait([&url, &opened] { opened = QDesktopServices::openUrl(url); });
    return opened;
}

NotificationCenter& Workspace::notificationCenter() {
    return d->center;
}

void Workspace::setRecordsCalls(bool on) {
    std::lock_guard lock(d->mutex);
    d->recording = on;
}

QList<Workspace::Call> Workspace::recordedCalls() const {
    std::lock_guard lock(d->mutex);
    return d->calls;
}

void Workspace::clearRecordedCalls() {
    std::lock_guard lock(d->mutex);
    d->calls.clear();
}

bool Workspace::record(const QString& name, const QStringList& arguments) {
    std::lock_guard lock(d->mutex);
    if (d->recording)
        d->calls.append(Call{name, arguments});
    return d->recording;
}

} // namespace platform
