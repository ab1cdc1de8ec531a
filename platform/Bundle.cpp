#include "platform/Bundle.h"

#include "platform/PropertyList.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <map>
#include <mutex>

#include <sys/stat.h>

namespace platform {
namespace {

// Parsed tables, by file; reread when the file's size or time stamp changes.
struct CachedTable {
    // The file's identity and time stamp as stat gives them: a QDateTime of the file
    // would be converted to local time at every look.
    ino_t inode = 0;
    timespec modified{};
    off_t size = -1;
    std::optional<QVariantMap> strings;
};

std::optional<QVariantMap> stringsTable(const QString& path) {
    static std::mutex mutex;
    static std::map<QString, CachedTable> cache;
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    std::lock_guard lock(mutex);
    CachedTable& entry = cache[path];
    if (entry.size != info.st_size || entry.inode != info.st_ino ||
        entry.modified.tv_sec != info.st_mtim.tv_sec ||
        entry.modified.tv_nsec != info.st_mtim.tv_nsec) {
        entry.size = info.st_size;
        entry.inode = info.st_ino;
        entry.modified = info.st_mtim;
        entry.strings = PropertyList::dictionaryFromFile(path);
    }
    return entry.strings;
}

// Resource names stay inside the bundle.
bool safeName(const QString& name) {
    return !name.isEmpty() && !name.startsWith(QLatin1Char('/')) &&
           !name.split(QLatin1Char('/')).contains(QStringLiteral(".."));
}

} // namespace

Bundle::Bundle(QString path) : m_path(std::move(path)) {
    m_info = PropertyList::dictionaryFromFile(m_path + QStringLiteral("/Contents/Info.plist"))
                 .value_or(QVariantMap());
}

std::shared_ptr<const Bundle> Bundle::bundleWithPath(const QString& path) {
    if (path.isEmpty() || !QFileInfo(path).isDir())
        return nullptr;
    return std::shared_ptr<const Bundle>(new Bundle(QDir::cleanPath(QDir(path).absolutePath())));
}

QString Bundle::resourcePath() const {
    return m_path + QStringLiteral("/Contents/Resources");
}

std::optional<QVariant> Bundle::objectForInfoDictionaryKey(const QString& key) const {
    const auto it = m_info.constFind(key);
    if (it == m_info.cend())
        return std::nullopt;
    return it.value();
}

std::optional<QString> Bundle::bundleIdentifier() const {
    const std::optional<QVariant> id =
        objectForInfoDictionaryKey(QStringLiteral("CFBundleIdentifier"));
    if (!id || id->typeId() != QMetaType::QString)
        return std::nullopt;
    return id->toString();
}

std::optional<QString> Bundle::pathForResource(const QString& name, const QString& type) const {
    const QString file = type.isEmpty() ? name : name + QLatin1Char('.') + type;
    if (!safeName(file))
        return std::nullopt;
    QStringList folders{resourcePath()};
    for (const QString& lproj : localizationsFor(QLocale().uiLanguages()))
        folders.append(resourcePath() + QLatin1Char('/') + lproj + QStringLiteral(".lproj"));
    for (const QString& folder : std::as_const(folders)) {
        const QString candidate = folder + QLatin1Char('/') + file;
        if (QFileInfo::exists(candidate))
            return candidate;
    }
    return std::nullopt;
}

std::optional<QString> Bundle::pathForImageResource(const QString& name) const {
    static const QStringList types{QStringLiteral("svg"), QStringLiteral("png"),
                                   QStringLiteral("tiff")};
    const QString suffix = QFileInfo(name).suffix().toLower();
    if (types.contains(suffix))
        if (std::optional<QString> direct = pathForResource(name, QString()))
            return direct;
    for (const QString& type : types)
        if (std::optional<QString> found = pathForResource(name, type))
            return found;
    return std::nullopt;
}

QString Bundle::localizedStringForKey(const QString& key, const QString& value,
                                      const QString& table) const {
    return localizedStringForKey(key, value, table, QLocale().uiLanguages());
}

QString Bundle::localizedStringForKey(const QString& key, const QString& value,
                                      const QString& table, const QStringList& languages) const {
    if (!safeName(table))
        return value;
    for (const QString& lproj : localizationsFor(languages)) {
        const std::optional<QVariantMap> strings =
            stringsTable(resourcePath() + QLatin1Char('/') + lproj + QStringLiteral(".lproj/") +
                         table + QStringLiteral(".strings"));
        if (!strings)
            continue;
        const auto it = strings->constFind(key);
        if (it != strings->cend() && it.value().typeId() == QMetaType::QString)
            return it.value().toString();
    }
    return value;
}

QStringList Bundle::localizationsFor(const QStringList& languages) {
    QStringList result;
    auto add = [&](const QString& name) {
        if (!name.isEmpty() && safeName(name) && !name.contains(QLatin1Char('/')) &&
            !result.contains(name))
            result.append(name);
    };
    for (const QString& language : languages) {
        add(language);
        QString underscored = language;
        underscored.replace(QLatin1Char('-'), QLatin1Char('_'));
        add(underscored);
        add(language.section(QLatin1Char('-'), 0, 0).section(QLatin1Char('_'), 0, 0));
    }
    add(QStringLiteral("en"));
    return result;
}

} // namespace platform
