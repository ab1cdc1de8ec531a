#include "platform/Preferences.h"

#include "platform/Log.h"
#include "platform/PropertyList.h"
#include "platform/TextFile.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

namespace platform {
namespace {

// One lock around every use of the domains, so that the merge in writePlist sees
// exactly the keys this process changed. Recursive because QSettings calls back
// into writePlist while a synchronisation holds it.
std::recursive_mutex& domainMutex() {
    static std::recursive_mutex m;
    return m;
}

// What this process changed in a file since it last wrote it.
struct PendingChanges {
    QSet<QString> keys;
    bool replaceAll = false;
};

std::map<QString, PendingChanges>& pendingByFile() {
    static std::map<QString, PendingChanges> p;
    return p;
}

// QSettings opens and reads the domain file itself, so its type is checked before
// QSettings may touch it: a FIFO would block every getter and setter, and a link to a
// device would be read until memory runs out. Absent is fine; QSettings creates it.
bool isReadableDomainFile(const QString& path) {
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return errno == ENOENT;
    return S_ISREG(status.st_mode) && status.st_size <= maxReadableFileSize;
}

// Before a write: what stands where the domain file belongs and cannot be read is moved
// aside (as ".unreadable", the entry itself, never its content), so that the write
// can go on without losing it.
bool setAsideUnreadableDomainFile(const QString& path) {
    if (isReadableDomainFile(path))
        return true;
    const QString keep = path + QStringLiteral(".unreadable");
    if (::rename(QFile::encodeName(path).constData(), QFile::encodeName(keep).constData()) != 0)
        return false;
    NSLog(QStringLiteral("Quillo :: Preferences :: %1 is not a readable file; kept as %2")
              .arg(path, keep));
    return true;
}

void logUnreadableOnce(const QString& path) {
    static QSet<QString> logged;
    if (logged.contains(path))
        return;
    logged.insert(path);
    NSLog(QStringLiteral("Quillo :: Preferences :: %1 is not a readable file; defaults used")
              .arg(path));
}

bool readPlist(QIODevice& device, QSettings::SettingsMap& map) {
    const QByteArray bytes = device.readAll();
    if (bytes.trimmed().isEmpty())
        return true;
    const std::optional<QVariant> root = PropertyList::fromData(bytes);
    if (!root || root->typeId() != QMetaType::QVariantMap)
        return false;
    const QVariantMap dict = root->toMap();
    for (auto it = dict.cbegin(); it != dict.cend(); ++it)
        map.insert(it.key(), it.value());
    return true;
}

// Gives the version being written a modification time at least a millisecond after
// the version it replaces (QSettings compares times in milliseconds). Without it two
// versions written within one tick of the file system's coarse clock, with the same
// size, look alike, and a process that read the first would never read the second
// when it synchronises. Done on the new file before QSettings renames it into place,
// under the file's lock.
bool stampNewVersion(QFileDevice& file, const QString& path) {
    if (!file.flush())
        return false;
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    qint64 stamp = qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
    struct stat previous {};
    if (::stat(QFile::encodeName(path).constData(), &previous) == 0) {
        const qint64 previousMs =
            qint64(previous.st_mtim.tv_sec) * 1000 + previous.st_mtim.tv_nsec / 1000000;
        stamp = std::max(stamp, (previousMs + 1) * 1000000);
    }
    const struct timespec times[2] = {{0, UTIME_OMIT},
                                      {time_t(stamp / 1000000000), long(stamp % 1000000000)}};
    return ::futimens(file.handle(), times) == 0;
}

// QSettings skips rereading a file whose size and time stamp look unchanged, and the
// file system's time stamps are coarse: a quick write by another process can go
// unseen, and QSettings would then write its stale copy of that process's keys.
// So the merge is redone here, under the file lock QSettings holds: the file as it
// is now, with only the keys this process changed taken from QSettings' map.
bool writePlist(QIODevice& device, const QSettings::SettingsMap& map) {
    std::lock_guard lock(domainMutex());
    auto* file = qobject_cast<QFileDevice*>(&device);
    const QString path = file ? QFileInfo(file->fileName()).absoluteFilePath() : QString();
    QVariantMap current;
    if (!path.isEmpty() && QFileInfo::exists(path)) {
        if (!setAsideUnreadableDomainFile(path))
            return false;
    }
    if (!path.isEmpty() && QFileInfo::exists(path)) {
        const std::optional<QByteArray> onDisk = readFileBytes(path);
        bool readable = onDisk && onDisk->trimmed().isEmpty();
        if (onDisk && !readable) {
            const std::optional<QVariant> root = PropertyList::fromData(*onDisk);
            readable = root && root->typeId() == QMetaType::QVariantMap;
            if (readable)
                current = root->toMap();
        }
        if (!readable) {
            // Keep what cannot be read instead of writing over it.
            const QString keep = path + QStringLiteral(".unreadable");
            QFile::remove(keep);
            if (!QFile::copy(path, keep))
                return false;
            NSLog(QStringLiteral("Quillo :: Preferences :: %1 is not a property list; kept as %2")
                      .arg(path, keep));
        }
    }
    QVariantMap result;
    const auto pending = pendingByFile().find(path);
    if (path.isEmpty() || pending == pendingByFile().end() || pending->second.replaceAll) {
        result = map;
    } else {
        result = current;
        for (const QString& key : std::as_const(pending->second.keys)) {
            const auto it = map.constFind(key);
            if (it != map.cend())
                result.insert(key, it.value());
            else
                result.remove(key);
        }
    }
    const std::optional<QByteArray> bytes =
        PropertyList::toData(QVariant(result), PropertyList::Format::Xml);
    if (!bytes || device.write(*bytes) != bytes->size())
        return false;
    if (file && !path.isEmpty())
        return stampNewVersion(*file, path);
    return true;
}

QSettings::Format plistFormat() {
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("plist"), readPlist, writePlist);
    return format;
}

class DomainSettings : public QSettings {
public:
    // Constructing reads the file (and writes what any other object of this process
    // left pending in it): QSettings synchronises on creation.
    explicit DomainSettings(const QString& path, bool syncOnDestruction)
        : QSettings(path, plistFormat()), m_syncOnDestruction(syncOnDestruction) {}
    ~DomainSettings() override {
        if (m_syncOnDestruction && isReadableDomainFile(fileName())) {
            std::lock_guard lock(domainMutex());
            sync();
        }
    }
    DomainSettings(const DomainSettings&) = delete;
    DomainSettings& operator=(const DomainSettings&) = delete;

protected:
    // Writes happen when the caller synchronises, never behind its back from the
    // event loop (that would bypass the lock the merge relies on).
    bool event(QEvent* e) override {
        if (e->type() == QEvent::UpdateRequest)
            return true;
        return QSettings::event(e);
    }

private:
    bool m_syncOnDestruction;
};

bool validDomainName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_-][A-Za-z0-9._-]*$"));
    return pattern.match(name).hasMatch();
}

// The calling thread's QSettings for a domain, created on first use. For a write, an
// unreadable domain file is first moved aside; for a read there is none while it stands.
DomainSettings* settingsFor(const QString& applicationID, bool forWrite = false) {
    if (!validDomainName(applicationID)) {
        NSLog(QStringLiteral("Quillo :: Preferences :: invalid domain name \"%1\"")
                  .arg(applicationID));
        return nullptr;
    }
    thread_local std::map<QString, std::unique_ptr<DomainSettings>> perThread;
    const QString path = preferencesFilePath(applicationID);
    if (forWrite ? !setAsideUnreadableDomainFile(path) : !isReadableDomainFile(path)) {
        logUnreadableOnce(path);
        return perThread.count(path) ? perThread[path].get() : nullptr;
    }
    auto it = perThread.find(path);
    if (it == perThread.end())
        it = perThread.emplace(path, std::make_unique<DomainSettings>(path, true)).first;
    return it->second.get();
}

bool synchronize(const QString& applicationID) {
    const QString path = preferencesFilePath(applicationID);
    // Writing what this process changed goes through a file that can be read.
    const bool writes = pendingByFile().count(path) != 0;
    if (!settingsFor(applicationID, writes))
        return false;
    if (!isReadableDomainFile(path))
        return false;
    // A fresh object: its status tells about this synchronisation alone (a QSettings
    // keeps the first error it ever met).
    DomainSettings probe(path, false);
    const QSettings::Status status = probe.status();
    if (status == QSettings::NoError) {
        pendingByFile().erase(path);
        return true;
    }
    NSLog(QStringLiteral("Quillo :: Preferences :: could not synchronise %1 (%2)")
              .arg(path, status == QSettings::FormatError ? QStringLiteral("unreadable file")
                                                          : QStringLiteral("access error")));
    return false;
}

} // namespace

QString preferencesFilePath(const QString& applicationID) {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (folder.isEmpty())
        folder = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(QDir(folder).absolutePath()) + QLatin1Char('/') + applicationID +
           QStringLiteral(".plist");
}

void preferencesSetAppValue(const QString& key, const std::optional<QVariant>& value,
                            const QString& applicationID) {
    std::lock_guard lock(domainMutex());
    DomainSettings* settings = settingsFor(applicationID, true);
    if (!settings || key.isEmpty())
        return;
    if (value) {
        settings->setValue(key, *value);
    } else {
        // QSettings only writes a removal of a key it has read; one that another
        // process added since is read first.
        if (!settings->contains(key))
            DomainSettings refresh(preferencesFilePath(applicationID), false);
        settings->remove(key);
    }
    pendingByFile()[preferencesFilePath(applicationID)].keys.insert(key);
}

std::optional<QVariant> preferencesCopyAppValue(const QString& key, const QString& applicationID) {
    std::lock_guard lock(domainMutex());
    DomainSettings* settings = settingsFor(applicationID);
    if (!settings || key.isEmpty())
        return std::nullopt;
    const QVariant value = settings->value(key);
    if (!value.isValid())
        return std::nullopt;
    return value;
}

bool preferencesAppSynchronize(const QString& applicationID) {
    std::lock_guard lock(domainMutex());
    return synchronize(applicationID);
}

std::optional<QVariantMap> persistentDomainForName(const QString& domainName) {
    std::lock_guard lock(domainMutex());
    DomainSettings* settings = settingsFor(domainName);
    if (!settings)
        return std::nullopt;
    synchronize(domainName);
    QVariantMap domain;
    const QStringList keys = settings->allKeys();
    for (const QString& key : keys)
        domain.insert(key, settings->value(key));
    return domain;
}

bool setPersistentDomain(const QVariantMap& domain, const QString& domainName) {
    std::lock_guard lock(domainMutex());
    DomainSettings* settings = settingsFor(domainName, true);
    if (!settings)
        return false;
    // Read first: QSettings only removes the keys it knows of.
    synchronize(domainName);
    settings->clear();
    for (auto it = domain.cbegin(); it != domain.cend(); ++it)
        settings->setValue(it.key(), it.value());
    pendingByFile()[preferencesFilePath(domainName)].replaceAll = true;
    return synchronize(domainName);
}

} // namespace platform
