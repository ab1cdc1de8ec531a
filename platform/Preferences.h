#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>

namespace platform {

// The per-user preferences service. Each application domain is one property-list
// file, $XDG_CONFIG_HOME/<applicationID>.plist, read and written through QSettings
// with a registered property-list format: Booleans are stored as <true/>/<false/>,
// integers as <integer>, dictionaries and arrays as themselves.
//
// Every thread gets its own QSettings object per domain; QSettings shares one
// in-memory copy of each file among them, so a value set on one thread is seen on
// the others. Writing takes the file's lock and merges with what other processes
// wrote meanwhile, so two processes writing different keys never lose each other's.
// All calls may be made from any thread.

// Sets (or, with nothing, removes) the value of a key in the domain. Stays in this
// process until the domain is synchronised.
void preferencesSetAppValue(const QString& key, const std::optional<QVariant>& value,
                            const QString& applicationID);

// The value of a key as this process last read or set it; nothing when absent.
// Does not go to the disk: synchronise first to see other processes' changes.
std::optional<QVariant> preferencesCopyAppValue(const QString& key, const QString& applicationID);

// Writes this process's changes to the file and reads the other processes' ones.
// False (and a log line) when the file could not be written or read.
bool preferencesAppSynchronize(const QString& applicationID);
// The same under the name the menu extra's change handler knows it by.
inline bool CFPreferencesAppSynchronize(const QString& applicationID) {
    return preferencesAppSynchronize(applicationID);
}

// The user-defaults persistent domain: the whole domain as one dictionary, read
// fresh from the disk; nothing when the domain's name is not a valid file name.
std::optional<QVariantMap> persistentDomainForName(const QString& domainName);

// Replaces the whole domain by the dictionary and writes it at once.
bool setPersistentDomain(const QVariantMap& domain, const QString& domainName);

// The file that holds a domain.
QString preferencesFilePath(const QString& applicationID);

} // namespace platform
