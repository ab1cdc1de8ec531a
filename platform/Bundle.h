#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <memory>
#include <optional>

namespace platform {

// A bundle folder: Contents/Info.plist (its information dictionary) and
// Contents/Resources (resources, and localised tables in <language>.lproj/<table>.strings,
// each an XML property-list dictionary of key to text). Immutable; safe to share
// between threads.
class Bundle {
public:
    // Nothing when the path is not an existing folder. A folder without a readable
    // Info.plist is still a bundle, with an empty information dictionary.
    static std::shared_ptr<const Bundle> bundleWithPath(const QString& path);

    QString bundlePath() const { return m_path; }
    QString resourcePath() const;
    const QVariantMap& infoDictionary() const { return m_info; }
    std::optional<QVariant> objectForInfoDictionaryKey(const QString& key) const;
    // CFBundleIdentifier, when it is a text.
    std::optional<QString> bundleIdentifier() const;

    // Contents/Resources/<name>.<type> (just <name> when type is empty), else the same
    // in the preferred localisations' folders; nothing when no such file exists.
    std::optional<QString> pathForResource(const QString& name, const QString& type) const;
    // The name with ".svg", ".png" or ".tiff", in that order of preference.
    std::optional<QString> pathForImageResource(const QString& name) const;

    // The text of the key in the table, looked up in the user's languages in order
    // (QLocale().uiLanguages()), then in "en"; the value passed in when no table
    // has the key.
    QString localizedStringForKey(const QString& key, const QString& value,
                                  const QString& table) const;
    // The same for an explicit list of languages (BCP 47 names such as "de-DE").
    QString localizedStringForKey(const QString& key, const QString& value, const QString& table,
                                  const QStringList& languages) const;

    // The .lproj folder names tried for a list of languages, in order, ending in "en":
    // "de-AT" gives "de-AT", "de_AT", "de", then "en".
    static QStringList localizationsFor(const QStringList& languages);

private:
    explicit Bundle(QString path);
    QString m_path;
    QVariantMap m_info;
};

} // namespace platform
