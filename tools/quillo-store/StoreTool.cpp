#include "tools/quillo-store/StoreTool.h"

#include "menuextra/store/QL_CalendarStore.h"
#include "menuextra/store/QL_ToDo.h"
#include "menuextra/store/QL_ToDoReader.h"
#include "platform/AtomicFile.h"
#include "platform/PropertyList.h"
#include "platform/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QUuid>
#include <QVariantList>
#include <QVariantMap>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <glob.h>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace storetool {
namespace {

using platform::PropertyList;

const QString sourceNodeType = QStringLiteral("CALSourceNode");
const QString groupNodeType = QStringLiteral("CALNamedGroupNode");
const QString readWriteType = QStringLiteral("com.apple.ical.sources.naivereadwrite");

// Colours for new calendars when none is given, taken in turn.
const char* const palette[] = {"#3A7BD5", "#2E9E5B", "#E8833A", "#8E5CC4",
                               "#D64550", "#8C6D46", "#C9A227"};

// How often a node-list change is redone when another program replaced the list
// between our read and our write.
constexpr int mergeAttempts = 20;

QString storeFolder() {
    return ql::applicationSupportFolder() + QStringLiteral("/iCal");
}

QString calendarFolder(const QString& sourceKey) {
    return storeFolder() + QStringLiteral("/Sources/") + sourceKey + QStringLiteral(".calendar");
}

bool isControl(QChar c) {
    return c.category() == QChar::Other_Control;
}

std::optional<QString> stringValue(const QVariantMap& map, const QString& key) {
    const auto it = map.constFind(key);
    if (it == map.cend() || it->typeId() != QMetaType::QString)
        return std::nullopt;
    return it->toString();
}

// ---- The node list --------------------------------------------------------------------

struct NodeList {
    QVariantMap root;
    std::optional<platform::FileIdentity> identity; // absent: there is no node list yet
    PropertyList::Format format = PropertyList::Format::Xml;
};

std::optional<NodeList> readNodeList(QString& error) {
    const QString path = ql::nodesPath();
    NodeList nodes;
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) {
        nodes.root.insert(QStringLiteral("List"), QVariantList());
        return nodes;
    }
    const std::optional<platform::FileSnapshot> snapshot = platform::readFileSnapshot(path);
    if (!snapshot) {
        error = QStringLiteral("the node list %1 cannot be read").arg(path);
        return std::nullopt;
    }
    const std::optional<QVariant> root = PropertyList::fromData(snapshot->bytes);
    if (!root || root->typeId() != QMetaType::QVariantMap) {
        error = QStringLiteral("the node list %1 is not a property-list dictionary").arg(path);
        return std::nullopt;
    }
    nodes.root = root->toMap();
    const auto list = nodes.root.constFind(QStringLiteral("List"));
    if (list == nodes.root.cend())
        nodes.root.insert(QStringLiteral("List"), QVariantList());
    else if (list->typeId() != QMetaType::QVariantList) {
        error = QStringLiteral("the \"List\" of the node list %1 is not an array").arg(path);
        return std::nullopt;
    }
    nodes.identity = snapshot->identity;
    if (snapshot->bytes.startsWith("bplist"))
        nodes.format = PropertyList::Format::Binary;
    return nodes;
}

// Creates the node list only if there still is none: a second program creating it at
// the same moment makes this attempt fail, not overwrite.
enum class CreateResult { Created, Exists, Failed };

CreateResult createExclusively(const QString& path, const QByteArray& bytes) {
    // A new file of its own (with the mode of any new file), made whole, then linked in
    // under the list's name: link() fails when the name exists.
    const QByteArray temp = QFile::encodeName(
        QFileInfo(path).absolutePath() + QStringLiteral("/.nodes-") +
        QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".tmp"));
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return CreateResult::Failed;
    const auto cleanUp = qScopeGuard([&temp] { ::unlink(temp.constData()); });
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += n;
    }
    const bool ok = written == bytes.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok)
        return CreateResult::Failed;
    if (::link(temp.constData(), QFile::encodeName(path).constData()) == 0)
        return CreateResult::Created;
    return errno == EEXIST ? CreateResult::Exists : CreateResult::Failed;
}

// Reads the node list, lets change edit its root and writes it back atomically. When
// another program replaced the list meanwhile, the change is made again on its version,
// so nothing it wrote is lost. change gives false (with a reason) to refuse.
bool updateNodeList(const std::function<bool(QVariantMap&, QString&)>& change, QString& error) {
    if (!QDir().mkpath(storeFolder() + QStringLiteral("/Sources"))) {
        error = QStringLiteral("cannot create the store folder %1").arg(storeFolder());
        return false;
    }
    // Two of our own writers would otherwise both pass the identity check of the same
    // version and the second rename would drop the first one's change; the lock on the
    // store folder (no file of its own) lets them take turns.
    const int folder =
        ::open(QFile::encodeName(storeFolder()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0 || ::flock(folder, LOCK_EX) != 0) {
        if (folder >= 0)
            ::close(folder);
        error = QStringLiteral("cannot lock the store folder %1").arg(storeFolder());
        return false;
    }
    const auto unlock = qScopeGuard([folder] { ::close(folder); });
    for (int attempt = 0; attempt < mergeAttempts; ++attempt) {
        std::optional<NodeList> nodes = readNodeList(error);
        if (!nodes)
            return false;
        if (!change(nodes->root, error))
            return false;
        const std::optional<QByteArray> bytes =
            PropertyList::toData(QVariant(nodes->root), nodes->format);
        if (!bytes) {
            error = QStringLiteral("the node list cannot be written as a property list");
            return false;
        }
        if (!nodes->identity) {
            switch (createExclusively(ql::nodesPath(), *bytes)) {
            case CreateResult::Created:
                return true;
            case CreateResult::Exists:
                continue;
            case CreateResult::Failed:
                error = QStringLiteral("cannot write the node list %1").arg(ql::nodesPath());
                return false;
            }
        }
        switch (platform::replaceFileAtomically(ql::nodesPath(), *bytes, nodes->identity)) {
        case platform::AtomicReplaceResult::Replaced:
            return true;
        case platform::AtomicReplaceResult::ChangedMeanwhile:
            continue;
        case platform::AtomicReplaceResult::Failed:
            error = QStringLiteral("cannot write the node list %1").arg(ql::nodesPath());
            return false;
        }
    }
    error = QStringLiteral("the node list kept changing while it was being written");
    return false;
}

// ---- The calendars of the store -------------------------------------------------------

struct StoreCalendar {
    QString sourceKey;
    std::optional<QString> key;
    std::optional<QString> title;
    bool shown = true;
    bool folder = false; // a folder of one-object files, not a data file
};

bool isCalendarNode(const std::optional<QString>& type) {
    return type == sourceNodeType || type == ql::folderCalendarType;
}

void collectCalendars(const QVariantList& list, std::vector<StoreCalendar>& out) {
    for (const QVariant& entry : list) {
        if (entry.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap node = entry.toMap();
        const std::optional<QString> type = stringValue(node, QStringLiteral("Type"));
        if (type == groupNodeType) {
            collectCalendars(node.value(QStringLiteral("Subnodes")).toList(), out);
            continue;
        }
        const std::optional<QString> sourceKey = stringValue(node, QStringLiteral("SourceKey"));
        if (!isCalendarNode(type) || !sourceKey || !ql::isSafeSourceKey(*sourceKey))
            continue;
        StoreCalendar calendar;
        calendar.sourceKey = *sourceKey;
        calendar.folder = type == ql::folderCalendarType;
        const auto selection = node.constFind(QStringLiteral("Selection"));
        calendar.shown = selection == node.cend() || !selection->canConvert<double>() ||
                         selection->toDouble() != 0.0;
        const QVariantMap info = PropertyList::dictionaryFromFile(ql::calendarInfoPath(*sourceKey))
                                     .value_or(QVariantMap());
        calendar.key = stringValue(info, QStringLiteral("Key"));
        calendar.title = stringValue(info, QStringLiteral("Title"));
        out.push_back(calendar);
    }
}

std::vector<StoreCalendar> calendarsOf(const QVariantMap& root) {
    std::vector<StoreCalendar> calendars;
    collectCalendars(root.value(QStringLiteral("List")).toList(), calendars);
    return calendars;
}

// Drops every calendar node with this source key, at any depth.
int removeNodes(QVariantList& list, const QString& sourceKey) {
    int removed = 0;
    for (qsizetype i = list.size() - 1; i >= 0; --i) {
        if (list.at(i).typeId() != QMetaType::QVariantMap)
            continue;
        QVariantMap node = list.at(i).toMap();
        if (isCalendarNode(stringValue(node, QStringLiteral("Type"))) &&
            stringValue(node, QStringLiteral("SourceKey")) == sourceKey) {
            list.removeAt(i);
            ++removed;
        } else if (stringValue(node, QStringLiteral("Type")) == groupNodeType &&
                   node.value(QStringLiteral("Subnodes")).typeId() == QMetaType::QVariantList) {
            QVariantList subnodes = node.value(QStringLiteral("Subnodes")).toList();
            if (const int inGroup = removeNodes(subnodes, sourceKey)) {
                node.insert(QStringLiteral("Subnodes"), subnodes);
                list[i] = node;
                removed += inGroup;
            }
        }
    }
    return removed;
}

// ---- Calendar files -------------------------------------------------------------------

// The file's path with every link resolved; for a file yet to be made, its folder's.
QString resolvedPath(const QString& path) {
    const QFileInfo info(path);
    if (info.exists())
        return info.canonicalFilePath();
    const QString folder = info.absoluteDir().canonicalPath();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + info.fileName();
}

bool isInsideStore(const QString& resolved) {
    QString store = QFileInfo(storeFolder()).canonicalFilePath();
    if (store.isEmpty())
        store = QDir::cleanPath(storeFolder());
    return resolved == store || resolved.startsWith(store + QLatin1Char('/'));
}

// The text of a calendar file that the reader and the writer can work with; nothing
// (with the reason) for anything else.
std::optional<QString> readCalendarFile(const QString& path, QString& error) {
    const QFileInfo info(path);
    if (!info.isFile()) {
        error = QStringLiteral("is not a regular file");
        return std::nullopt;
    }
    const std::optional<QByteArray> bytes = platform::readFileBytes(path);
    if (!bytes) {
        error = QStringLiteral("cannot be read");
        return std::nullopt;
    }
    if (bytes->contains('\0')) {
        error = QStringLiteral("is a binary file, not an iCalendar text");
        return std::nullopt;
    }
    const std::optional<QString> text = platform::decodeUtf8(*bytes);
    if (!text) {
        error = QStringLiteral("is not UTF-8 text (convert it to UTF-8 first)");
        return std::nullopt;
    }
    // The writer's own rule: a calendar it could not write is not adopted.
    const QByteArray normalized = ql::normalizeLineEndings(*bytes);
    if (!ql::isWholeCalendar(normalized)) {
        static const QRegularExpression begin(QStringLiteral("^\\x{FEFF}?\\s*BEGIN:VCALENDAR\\s*$"),
                                              QRegularExpression::CaseInsensitiveOption |
                                                  QRegularExpression::MultilineOption);
        error = begin.match(*text).hasMatch()
                    ? QStringLiteral("is not a whole iCalendar file (its first line is not "
                                     "BEGIN:VCALENDAR or its last is not END:VCALENDAR)")
                    : QStringLiteral("is not an iCalendar file (it has no BEGIN:VCALENDAR line)");
        return std::nullopt;
    }
    return text;
}

int countToDos(const QString& text) {
    std::vector<std::shared_ptr<QL_ToDo>> toDos;
    ql::appendToDos(ql::normalizeLineEndings(text), {}, toDos);
    return int(toDos.size());
}

// The calendar's own name (X-WR-CALNAME), unfolded and unescaped; nothing when it has none.
std::optional<QString> calendarName(const QString& text) {
    const QString unfolded = ql::normalizeLineEndings(text)
                                 .replace(QStringLiteral("\r\n "), QString())
                                 .replace(QStringLiteral("\r\n\t"), QString());
    static const QRegularExpression name(QStringLiteral("^X-WR-CALNAME(;[^:\\r\\n]*)?:(.*)$"),
                                         QRegularExpression::CaseInsensitiveOption |
                                             QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = name.match(unfolded);
    if (!match.hasMatch())
        return std::nullopt;
    QString value = QL_ToDo::convertFromEscapedString(match.captured(2).trimmed()).value_or("");
    // Control characters (line breaks, escapes) have no place in a title: no property-list
    // parser reads them back, and a terminal would act on them.
    for (QChar& c : value)
        if (isControl(c))
            c = QLatin1Char(' ');
    value = value.simplified();
    if (value.isEmpty())
        return std::nullopt;
    return value;
}

// The resolved file each calendar of the store reads, by source key.
std::optional<QString> adoptedAs(const std::vector<StoreCalendar>& calendars,
                                 const QString& resolved) {
    for (const StoreCalendar& calendar : calendars) {
        const QFileInfo data(calendar.folder ? ql::calendarItemsPath(calendar.sourceKey)
                                             : ql::calendarDataPath(calendar.sourceKey));
        if (data.exists() && data.canonicalFilePath() == resolved)
            return calendar.title.value_or(calendar.sourceKey) + QStringLiteral(" (key ") +
                   calendar.sourceKey + QLatin1Char(')');
    }
    return std::nullopt;
}

const QByteArray emptyCalendar = "BEGIN:VCALENDAR\r\n"
                                 "VERSION:2.0\r\n"
                                 "PRODID:-//Quillo//quillo-store//EN\r\n"
                                 "END:VCALENDAR\r\n";

// Removes what this tool puts into a calendar folder (its Info.plist and the link to the
// user's file; a link is removed, never followed), then the folder if nothing else is
// in it. Anything else there is left alone.
bool removeCalendarFolder(const QString& folder) {
    for (const char* name : {"Info.plist", "corestorage.ics", "items"}) {
        const QString path = folder + QLatin1Char('/') + QLatin1String(name);
        const QFileInfo entry(path);
        if ((entry.isSymLink() || entry.isFile()) &&
            ::unlink(QFile::encodeName(path).constData()) != 0)
            return false;
    }
    return ::rmdir(QFile::encodeName(folder).constData()) == 0 || !QFileInfo::exists(folder);
}

int refuse(QTextStream& err, const QString& message) {
    err << "quillo-store: " << printable(message) << "; nothing was changed.\n";
    err.flush();
    return 1;
}

// Why a title cannot be given to a new calendar: the menu knows calendars by title, so a
// second one of the same title would hide the first.
std::optional<QString> titleTaken(const std::vector<StoreCalendar>& calendars, const QString& title,
                                  const QString& exceptKey) {
    for (const StoreCalendar& calendar : calendars) {
        if (calendar.sourceKey != exceptKey && calendar.title == title)
            return QStringLiteral("a calendar titled \"%1\" exists already (key %2); choose "
                                  "another title with --title")
                .arg(title, calendar.sourceKey);
    }
    return std::nullopt;
}

// Appends the calendar's node to the node list, last, after checking the title again on
// the list about to be written: another program may have added a calendar since.
bool addCalendarNode(const QString& type, const QString& key, const QString& title,
                     const QString& color, QString& error) {
    const QVariantMap node{{QStringLiteral("Type"), type},
                           {QStringLiteral("SourceKey"), key},
                           {QStringLiteral("Key"), key},
                           {QStringLiteral("Selection"), 1},
                           {QStringLiteral("ThemeColor"), color}};
    return updateNodeList(
        [&](QVariantMap& root, QString& why) {
            if (const std::optional<QString> taken = titleTaken(calendarsOf(root), title, key)) {
                why = *taken;
                return false;
            }
            QVariantList list = root.value(QStringLiteral("List")).toList();
            list.append(node);
            root.insert(QStringLiteral("List"), list);
            return true;
        },
        error);
}

// ---- Folders of one-object files (vdir) --------------------------------------------------

// The item files of a folder: visible regular files with the extension.
QStringList folderItems(const QString& folder, const QString& extension) {
    QStringList items;
    for (const QFileInfo& entry :
         QDir(folder).entryInfoList({QLatin1Char('*') + extension}, QDir::Files, QDir::Name)) {
        if (!entry.fileName().startsWith(QLatin1Char('.')))
            items << entry.filePath();
    }
    return items;
}

int countFolderToDos(const QString& folder, const QString& extension) {
    int count = 0;
    for (const QString& item : folderItems(folder, extension)) {
        QString why;
        if (const std::optional<QString> text = readCalendarFile(item, why))
            count += countToDos(*text);
    }
    return count;
}

// The first line of a small text file a sync tool keeps beside the items (displayname,
// color); nothing when there is none or it holds nothing usable.
std::optional<QString> folderMetadata(const QString& folder, const char* name) {
    const QString path = folder + QLatin1Char('/') + QLatin1String(name);
    if (!QFileInfo(path).isFile() || QFileInfo(path).size() > 4096)
        return std::nullopt;
    const std::optional<QString> text = platform::readUtf8File(path);
    if (!text)
        return std::nullopt;
    QString line = text->section(QLatin1Char('\n'), 0, 0);
    for (QChar& c : line)
        if (isControl(c))
            c = QLatin1Char(' ');
    line = line.simplified();
    if (line.isEmpty())
        return std::nullopt;
    return line;
}

// A colour file's "#RRGGBB" or "#RRGGBBAA" as the node's "#RRGGBBAA".
std::optional<QString> folderColor(const QString& folder) {
    const std::optional<QString> text = folderMetadata(folder, "color");
    static const QRegularExpression hex(QStringLiteral("^#([0-9A-Fa-f]{6})([0-9A-Fa-f]{2})?$"));
    const QRegularExpressionMatch match = hex.match(text.value_or(QString()));
    if (!match.hasMatch())
        return std::nullopt;
    return QLatin1Char('#') + match.captured(1).toUpper() +
           (match.captured(2).isEmpty() ? QStringLiteral("FF") : match.captured(2).toUpper());
}

// A folder of one-object files that a sync or to-do tool is set up with.
struct FolderCandidate {
    QString path;
    QString program;
    QString extension;
};

// The folders a shell pattern (with ~) names.
QStringList globbedFolders(const QString& pattern) {
    QStringList folders;
    glob_t found{};
    if (::glob(QFile::encodeName(pattern).constData(), GLOB_TILDE | GLOB_ONLYDIR | GLOB_MARK,
               nullptr, &found) == 0) {
        for (size_t i = 0; i < found.gl_pathc; ++i) {
            const QString path = QDir::cleanPath(QFile::decodeName(found.gl_pathv[i]));
            if (QFileInfo(path).isDir())
                folders << path;
        }
    }
    ::globfree(&found);
    return folders;
}

// A value as the configuration files write it: in quotes or bare, ~ for the home folder.
QString configValue(QString value) {
    value = value.trimmed();
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    return value;
}

QString configHome() {
    const QString set = qEnvironmentVariable("XDG_CONFIG_HOME");
    return set.isEmpty() ? QDir::homePath() + QStringLiteral("/.config") : set;
}

// The folders vdirsyncer's filesystem storages, todoman and khal are configured with,
// and the places they keep calendars by default. A storage's path holds one folder per
// synced collection, or is one itself.
std::vector<FolderCandidate> configuredFolders() {
    std::vector<FolderCandidate> candidates;
    auto addFolder = [&](const QString& folder, const QString& program, const QString& ext) {
        for (const FolderCandidate& c : candidates)
            if (QFileInfo(c.path).canonicalFilePath() == QFileInfo(folder).canonicalFilePath())
                return;
        candidates.push_back({folder, program, ext});
    };
    static const QRegularExpression keyValue(
        QStringLiteral("^\\s*([A-Za-z_]+)\\s*=\\s*(.+?)\\s*$"));
    static const QRegularExpression section(QStringLiteral("^\\s*\\[+\\s*([^\\]]*?)\\s*\\]+\\s*$"));
    auto lines = [](const QString& path) {
        const std::optional<QString> text =
            QFileInfo(path).isFile() && QFileInfo(path).size() < 1 << 20
                ? platform::readUtf8File(path)
                : std::nullopt;
        return text ? text->split(QLatin1Char('\n')) : QStringList();
    };

    // vdirsyncer: [storage NAME] sections of type "filesystem".
    for (const QString& config : {configHome() + QStringLiteral("/vdirsyncer/config"),
                                  QDir::homePath() + QStringLiteral("/.vdirsyncer/config")}) {
        struct Storage {
            bool filesystem = false;
            QString path;
            QString extension;
        };
        std::vector<Storage> storages;
        bool inStorage = false;
        for (const QString& line : lines(config)) {
            if (const QRegularExpressionMatch m = section.match(line); m.hasMatch()) {
                inStorage = m.captured(1).startsWith(QLatin1String("storage "));
                if (inStorage)
                    storages.emplace_back();
                continue;
            }
            const QRegularExpressionMatch m = keyValue.match(line);
            if (!inStorage || !m.hasMatch())
                continue;
            const QString value = configValue(m.captured(2));
            if (m.captured(1) == QLatin1String("type"))
                storages.back().filesystem = value == QLatin1String("filesystem");
            else if (m.captured(1) == QLatin1String("path"))
                storages.back().path = value;
            else if (m.captured(1) == QLatin1String("fileext"))
                storages.back().extension = value;
        }
        for (const Storage& storage : storages) {
            if (!storage.filesystem || storage.path.isEmpty())
                continue;
            const QString extension = storage.extension.isEmpty()
                                          ? ql::defaultItemExtension.toString()
                                          : storage.extension;
            for (const QString& root : globbedFolders(storage.path)) {
                if (!folderItems(root, extension).isEmpty())
                    addFolder(root, QStringLiteral("vdirsyncer"), extension);
                for (const QFileInfo& sub :
                     QDir(root).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
                    addFolder(sub.filePath(), QStringLiteral("vdirsyncer"), extension);
            }
        }
    }
    // todoman (config.py, or the older config) and khal: path values, globs allowed.
    const struct {
        QString config;
        QString program;
    } tools[] = {
        {configHome() + QStringLiteral("/todoman/config.py"), QStringLiteral("todoman")},
        {configHome() + QStringLiteral("/todoman/todoman.conf"), QStringLiteral("todoman")},
        {configHome() + QStringLiteral("/khal/config"), QStringLiteral("khal")}};
    for (const auto& tool : tools) {
        for (const QString& line : lines(tool.config)) {
            const QRegularExpressionMatch m = keyValue.match(line);
            if (m.hasMatch() && m.captured(1) == QLatin1String("path"))
                for (const QString& folder : globbedFolders(configValue(m.captured(2))))
                    addFolder(folder, tool.program, ql::defaultItemExtension.toString());
        }
    }
    for (const QString& pattern :
         {QStringLiteral("~/.local/share/todoman/*"), QStringLiteral("~/.local/share/calendars/*")})
        for (const QString& folder : globbedFolders(pattern))
            addFolder(folder, QStringLiteral("todoman"), ql::defaultItemExtension.toString());
    return candidates;
}

bool hasGlobCharacters(const QString& path) {
    return path.contains(QLatin1Char('*')) || path.contains(QLatin1Char('?')) ||
           path.contains(QLatin1Char('['));
}

} // namespace

QString printable(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        if (isControl(c)) // all of them below U+0100
            shown += QStringLiteral("\\x") +
                     QString::number(c.unicode(), 16).toUpper().rightJustified(2, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

QString shellQuoted(const QString& text) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:=@%+,-]+$"));
    if (plain.match(text).hasMatch())
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

namespace {

// Adopts a folder of one-object files (as sync tools keep calendars) as one calendar:
// its folder in the store holds the description and a link "items" to the folder, and
// its node is of the folder type, which readers of data files pass over.
int addFolder(const QString& folder, const AddOptions& options, std::optional<QString> color,
              QTextStream& out, QTextStream& err) {
    const QString resolved = resolvedPath(folder);
    if (resolved.isEmpty())
        return refuse(err, QStringLiteral("%1 cannot be found").arg(folder));
    if (isInsideStore(resolved))
        return refuse(err, QStringLiteral("%1 lies inside the calendar store %2; adopt a folder "
                                          "kept elsewhere")
                               .arg(folder, storeFolder()));
    const QString extension = options.extension.value_or(ql::defaultItemExtension.toString());
    static const QRegularExpression plainExtension(QStringLiteral("^\\.[A-Za-z0-9]{1,16}$"));
    if (!plainExtension.match(extension).hasMatch())
        return refuse(
            err, QStringLiteral("the extension \"%1\" is not of the form .ics").arg(extension));
    if (!QFileInfo(resolved).isReadable() || !QFileInfo(resolved).isExecutable())
        return refuse(err, QStringLiteral("the folder %1 cannot be read").arg(folder));
    const QString title =
        options.title
            ? options.title->trimmed()
            : folderMetadata(resolved, "displayname").value_or(QFileInfo(resolved).fileName());
    if (title.isEmpty())
        return refuse(err, QStringLiteral("the title must not be empty"));
    if (!color)
        color = folderColor(resolved);

    QString error;
    const std::optional<NodeList> nodes = readNodeList(error);
    if (!nodes)
        return refuse(err, error);
    const std::vector<StoreCalendar> calendars = calendarsOf(nodes->root);
    if (const std::optional<QString> already = adoptedAs(calendars, resolved))
        return refuse(err,
                      QStringLiteral("%1 is already in the store as %2").arg(folder, *already));
    if (const std::optional<QString> taken = titleTaken(calendars, title, QString()))
        return refuse(err, *taken);
    if (!color)
        color = QString::fromLatin1(palette[calendars.size() % std::size(palette)]) +
                QStringLiteral("FF");

    const QString key = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QString calendarPath = calendarFolder(key);
    QVariantMap infoDict{{QStringLiteral("Key"), key},
                         {QStringLiteral("Title"), title},
                         {QStringLiteral("Type"), ql::folderCalendarType.toString()}};
    if (extension != ql::defaultItemExtension)
        infoDict.insert(QStringLiteral("FileExtension"), extension);
    const std::optional<QByteArray> infoBytes = PropertyList::toData(QVariant(infoDict));
    if (!QDir().mkpath(calendarPath) || !infoBytes ||
        platform::replaceFileAtomically(ql::calendarInfoPath(key), *infoBytes, std::nullopt) !=
            platform::AtomicReplaceResult::Replaced ||
        !QFile::link(resolved, ql::calendarItemsPath(key))) {
        removeCalendarFolder(calendarPath);
        return refuse(err,
                      QStringLiteral("the calendar folder %1 cannot be written").arg(calendarPath));
    }
    if (!addCalendarNode(ql::folderCalendarType.toString(), key, title, *color, error)) {
        removeCalendarFolder(calendarPath);
        return refuse(err, error);
    }
    const int items = int(folderItems(resolved, extension).size());
    if (!QFileInfo(resolved).isWritable())
        out << "Note: the folder " << printable(resolved)
            << " is not writable, so Quillo can show these to-dos but cannot save changes.\n";
    out << "Added \"" << printable(title) << "\" (key " << key << "): Quillo reads and writes the "
        << items << (items == 1 ? " file" : " files") << " of the folder " << printable(resolved)
        << " (one to-do per file; a new to-do is a new file).\n";
    return 0;
}

} // namespace

int add(const AddOptions& options, QTextStream& out, QTextStream& err) {
    const QString file = QDir::cleanPath(QFileInfo(options.file).absoluteFilePath());
    if (options.title && options.title->trimmed().isEmpty())
        return refuse(err, QStringLiteral("the title must not be empty"));
    if (options.title && std::any_of(options.title->cbegin(), options.title->cend(), isControl))
        return refuse(err, QStringLiteral("the title must not contain control characters (such "
                                          "as line breaks or tabs)"));
    std::optional<QString> color;
    if (options.color) {
        static const QRegularExpression hex(QStringLiteral("^#[0-9A-Fa-f]{6}$"));
        if (!hex.match(*options.color).hasMatch())
            return refuse(
                err,
                QStringLiteral("the colour \"%1\" is not of the form #RRGGBB").arg(*options.color));
        color = options.color->toUpper() + QStringLiteral("FF");
    }

    // The file: an existing calendar, or a new one in an existing folder; or a folder of
    // one-object files.
    const QFileInfo info(file);
    const bool exists = info.exists();
    if (exists && info.isDir())
        return addFolder(file, options, color, out, err);
    if (exists && !info.isFile())
        return refuse(err, QStringLiteral("%1 is neither a regular file nor a folder").arg(file));
    if (!exists && hasGlobCharacters(info.fileName()))
        return refuse(err, QStringLiteral("%1 does not exist and looks like a pattern; name one "
                                          "calendar file, or the folder that holds the .ics "
                                          "files of a synced calendar")
                               .arg(file));
    if (options.extension)
        return refuse(err, QStringLiteral("--extension is for a folder of .ics files; %1 is not "
                                          "a folder")
                               .arg(file));
    if (!exists && info.isSymLink())
        return refuse(err, QStringLiteral("%1 is a link to nothing").arg(file));
    if (!exists && !info.absoluteDir().exists())
        return refuse(err, QStringLiteral("the folder %1 does not exist").arg(info.absolutePath()));
    const QString resolved = resolvedPath(file);
    if (resolved.isEmpty())
        return refuse(err, QStringLiteral("%1 cannot be found").arg(file));
    if (isInsideStore(resolved))
        return refuse(err, QStringLiteral("%1 lies inside the calendar store %2; adopt a file "
                                          "kept elsewhere")
                               .arg(file, storeFolder()));
    std::optional<QString> fileName;
    if (exists) {
        QString why;
        const std::optional<QString> text = readCalendarFile(file, why);
        if (!text)
            return refuse(err, QStringLiteral("%1 %2").arg(file, why));
        fileName = calendarName(*text);
    }
    const QString title =
        options.title ? options.title->trimmed() : fileName.value_or(info.completeBaseName());

    // The store as it is: adopting the same file twice or a second calendar of the same
    // title (the menu knows calendars by title) would hide one of them.
    QString error;
    const std::optional<NodeList> nodes = readNodeList(error);
    if (!nodes)
        return refuse(err, error);
    const std::vector<StoreCalendar> calendars = calendarsOf(nodes->root);
    if (exists) {
        if (const std::optional<QString> already = adoptedAs(calendars, resolved))
            return refuse(err,
                          QStringLiteral("%1 is already in the store as %2").arg(file, *already));
    }
    if (const std::optional<QString> taken = titleTaken(calendars, title, QString()))
        return refuse(err, *taken);
    if (!color)
        color = QString::fromLatin1(palette[calendars.size() % std::size(palette)]) +
                QStringLiteral("FF");

    // Everything checked: make the file, the calendar folder, then the node (last, so
    // that a failure before it leaves no calendar behind).
    if (!exists) {
        QFile create(file);
        if (!create.open(QIODevice::NewOnly) ||
            create.write(emptyCalendar) != emptyCalendar.size() || !create.flush())
            return refuse(err, QStringLiteral("%1 cannot be created").arg(file));
    }
    const auto undoFile = [&] {
        if (!exists)
            QFile::remove(file);
    };
    const QString key = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QString folder = calendarFolder(key);
    const QVariantMap infoDict{{QStringLiteral("Key"), key},
                               {QStringLiteral("Title"), title},
                               {QStringLiteral("Type"), readWriteType}};
    const std::optional<QByteArray> infoBytes = PropertyList::toData(QVariant(infoDict));
    if (!QDir().mkpath(folder) || !infoBytes ||
        platform::replaceFileAtomically(ql::calendarInfoPath(key), *infoBytes, std::nullopt) !=
            platform::AtomicReplaceResult::Replaced ||
        !QFile::link(file, ql::calendarDataPath(key))) {
        removeCalendarFolder(folder);
        undoFile();
        return refuse(err, QStringLiteral("the calendar folder %1 cannot be written").arg(folder));
    }
    if (!addCalendarNode(sourceNodeType, key, title, *color, error)) {
        removeCalendarFolder(folder);
        undoFile();
        return refuse(err, error);
    }
    if (!QFileInfo(QFileInfo(resolved).absolutePath()).isWritable())
        out << "Note: the folder of " << printable(resolved)
            << " is not writable, so Quillo can show these to-dos but cannot save changes.\n";
    out << "Added \"" << printable(title) << "\" (key " << key << "): Quillo reads and writes "
        << printable(file) << (exists ? "" : " (created as an empty calendar)") << ".\n";
    return 0;
}

int list(QTextStream& out, QTextStream& err) {
    if (!QFileInfo::exists(ql::nodesPath())) {
        out << "No calendar store at " << storeFolder()
            << " yet; add a calendar file with: quillo-store add FILE.ics\n";
        return 0;
    }
    QString error;
    const std::optional<NodeList> nodes = readNodeList(error);
    if (!nodes)
        return refuse(err, error);
    const std::vector<StoreCalendar> calendars = calendarsOf(nodes->root);
    if (calendars.empty())
        out << "The store at " << storeFolder() << " has no calendars.\n";
    for (const StoreCalendar& calendar : calendars) {
        if (calendar.folder) {
            const QFileInfo items(ql::calendarItemsPath(calendar.sourceKey));
            const QString target = items.isSymLink() ? items.symLinkTarget() : items.filePath();
            const QString extension = stringValue(PropertyList::dictionaryFromFile(
                                                      ql::calendarInfoPath(calendar.sourceKey))
                                                      .value_or(QVariantMap()),
                                                  QStringLiteral("FileExtension"))
                                          .value_or(ql::defaultItemExtension.toString());
            const bool present = items.isDir();
            out << printable(calendar.title.value_or(QStringLiteral("(untitled)"))) << "\n"
                << "    key:    " << calendar.sourceKey << "\n"
                << "    folder: " << printable(target)
                << (present ? QStringLiteral("  (%1 files)")
                                  .arg(folderItems(items.filePath(), extension).size())
                            : QStringLiteral("  (missing)"))
                << "\n"
                << "    to-dos: "
                << (present ? QString::number(countFolderToDos(items.filePath(), extension))
                            : QStringLiteral("-"))
                << "\n"
                << "    shown:  " << (calendar.shown ? "yes" : "no") << "\n";
            continue;
        }
        const QString data = ql::calendarDataPath(calendar.sourceKey);
        const QFileInfo dataInfo(data);
        QString fileText;
        if (dataInfo.isSymLink())
            fileText = dataInfo.symLinkTarget() + (dataInfo.exists() ? "" : "  (missing)");
        else if (dataInfo.exists())
            fileText = data + QStringLiteral("  (kept in the store)");
        else
            fileText = QStringLiteral("none");
        QString why;
        const std::optional<QString> text =
            dataInfo.exists() ? readCalendarFile(data, why) : std::nullopt;
        out << printable(calendar.title.value_or(QStringLiteral("(untitled)"))) << "\n"
            << "    key:    " << calendar.sourceKey << "\n"
            << "    file:   " << printable(fileText) << "\n"
            << "    to-dos: " << (text ? QString::number(countToDos(*text)) : QStringLiteral("-"))
            << "\n"
            << "    shown:  " << (calendar.shown ? "yes" : "no") << "\n";
    }
    return 0;
}

int remove(const QString& keyOrTitle, QTextStream& out, QTextStream& err) {
    if (!QFileInfo::exists(ql::nodesPath()))
        return refuse(err, QStringLiteral("there is no calendar store at %1").arg(storeFolder()));
    QString error;
    const std::optional<NodeList> nodes = readNodeList(error);
    if (!nodes)
        return refuse(err, error);
    std::vector<StoreCalendar> matches;
    for (const StoreCalendar& calendar : calendarsOf(nodes->root)) {
        if (calendar.sourceKey.compare(keyOrTitle, Qt::CaseInsensitive) == 0 ||
            (calendar.key && calendar.key->compare(keyOrTitle, Qt::CaseInsensitive) == 0) ||
            calendar.title == keyOrTitle)
            matches.push_back(calendar);
    }
    if (matches.empty())
        return refuse(err, QStringLiteral("no calendar has the key or title \"%1\" (see "
                                          "quillo-store list)")
                               .arg(keyOrTitle));
    if (matches.size() > 1) {
        QStringList keys;
        for (const StoreCalendar& calendar : matches)
            keys << calendar.sourceKey;
        return refuse(err, QStringLiteral("several calendars match \"%1\"; name one by its key: %2")
                               .arg(keyOrTitle, keys.join(QStringLiteral(", "))));
    }
    const StoreCalendar& calendar = matches.front();
    const QFileInfo data(ql::calendarDataPath(calendar.sourceKey));
    const QFileInfo itemsLink(ql::calendarItemsPath(calendar.sourceKey));
    const QString linkTarget = data.isSymLink()        ? data.symLinkTarget()
                               : itemsLink.isSymLink() ? itemsLink.symLinkTarget()
                                                       : QString();
    // A calendar whose data lives in the store itself belongs to the program that made
    // it; removing its folder would delete the user's to-dos.
    if (data.exists() && !data.isSymLink())
        return refuse(err, QStringLiteral("\"%1\" keeps its to-dos in the store itself (%2), not "
                                          "in an adopted file; remove it with the program that "
                                          "made it")
                               .arg(calendar.title.value_or(calendar.sourceKey), data.filePath()));
    // Only a calendar whose data is a link this tool made (or a folder it adopted) is
    // ours to remove. Anything else, such as a subscription without a data file, belongs
    // to the program that made it, and so do its Info.plist and address.
    const QFileInfo items(calendarFolder(calendar.sourceKey) + QStringLiteral("/items"));
    if (!data.isSymLink() && !items.isSymLink())
        return refuse(err, QStringLiteral("\"%1\" has no file adopted by quillo-store (it may "
                                          "be a subscription or a calendar of another program); "
                                          "remove it with the program that made it")
                               .arg(calendar.title.value_or(calendar.sourceKey)));

    const bool removed = updateNodeList(
        [&calendar](QVariantMap& root, QString&) {
            QVariantList list = root.value(QStringLiteral("List")).toList();
            removeNodes(list, calendar.sourceKey);
            root.insert(QStringLiteral("List"), list);
            return true;
        },
        error);
    if (!removed)
        return refuse(err, error);
    const QString folder = calendarFolder(calendar.sourceKey);
    if (QFileInfo(folder).isDir() && !QFileInfo(folder).isSymLink() &&
        !removeCalendarFolder(folder))
        err << "quillo-store: the calendar is gone from the store; its folder " << printable(folder)
            << " holds other files and was left in place.\n";
    out << "Removed \"" << printable(calendar.title.value_or(calendar.sourceKey)) << "\" (key "
        << calendar.sourceKey << ")"
        << (linkTarget.isEmpty() ? QStringLiteral(".")
                                 : QStringLiteral("; its %1 %2 is left as it is.")
                                       .arg(itemsLink.isSymLink() ? QStringLiteral("folder")
                                                                  : QStringLiteral("file"),
                                            printable(linkTarget)))
        << "\n";
    return 0;
}

int discover(bool adopt, const QString& program, QTextStream& out, QTextStream& err) {
    struct Candidate {
        QString path;
        QString program;
        QString title; // when the file names no calendar itself
    };
    const QString data = ql::applicationSupportFolder();
    const QString home = QDir::homePath();
    std::vector<Candidate> candidates{
        {data + "/evolution/tasks/system/tasks.ics", "Evolution and GNOME To Do", "Personal"}};
    // Evolution keeps each further local task list in a folder of its own.
    const QFileInfoList lists = QDir(data + "/evolution/tasks")
                                    .entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    int number = 2;
    for (const QFileInfo& folder : lists) {
        if (folder.fileName() != QLatin1String("system") &&
            QFileInfo::exists(folder.filePath() + "/tasks.ics"))
            candidates.push_back({folder.filePath() + "/tasks.ics", "Evolution",
                                  QStringLiteral("Tasks %1").arg(number++)});
    }
    candidates.push_back({data + "/orage/orage.ics", "Orage", "Orage"});
    candidates.push_back({data + "/korganizer/std.ics", "KOrganizer", "KOrganizer"});
    candidates.push_back(
        {home + "/.kde/share/apps/korganizer/std.ics", "KOrganizer", "KOrganizer"});
    candidates.push_back(
        {home + "/.kde4/share/apps/korganizer/std.ics", "KOrganizer", "KOrganizer"});

    QString error;
    const std::optional<NodeList> nodes = readNodeList(error);
    const std::vector<StoreCalendar> calendars =
        nodes ? calendarsOf(nodes->root) : std::vector<StoreCalendar>();
    int found = 0;
    int failed = 0;
    QStringList seen;
    // Adopts a candidate, or prints the exact command that would.
    const auto offer = [&](const AddOptions& options) {
        if (adopt) {
            out.flush();
            if (add(options, out, err) != 0)
                ++failed;
            return;
        }
        out << "    " << printable(shellQuoted(program)) << " add "
            << printable(shellQuoted(options.file));
        if (options.title)
            out << " --title " << printable(shellQuoted(*options.title));
        if (options.extension)
            out << " --extension " << printable(shellQuoted(*options.extension));
        out << "\n";
    };
    for (const Candidate& candidate : candidates) {
        if (!QFileInfo(candidate.path).isFile())
            continue;
        const QString resolved = resolvedPath(candidate.path);
        if (seen.contains(resolved))
            continue;
        seen << resolved;
        QString why;
        const std::optional<QString> text = readCalendarFile(candidate.path, why);
        if (!text) {
            out << "Skipped " << printable(candidate.path) << " (" << candidate.program << "): it "
                << why << ".\n";
            continue;
        }
        if (const std::optional<QString> already = adoptedAs(calendars, resolved)) {
            out << "Already in the store: " << printable(candidate.path) << " as "
                << printable(*already) << ".\n";
            continue;
        }
        ++found;
        const std::optional<QString> title = calendarName(*text);
        AddOptions options;
        options.file = candidate.path;
        if (!title)
            options.title = candidate.title;
        const int toDos = countToDos(*text);
        out << "Found the tasks of " << candidate.program << " (" << toDos
            << (toDos == 1 ? " to-do" : " to-dos") << ") in " << printable(candidate.path) << "\n";
        offer(options);
    }
    for (const FolderCandidate& candidate : configuredFolders()) {
        const QString resolved = resolvedPath(candidate.path);
        if (seen.contains(resolved))
            continue;
        seen << resolved;
        if (const std::optional<QString> already = adoptedAs(calendars, resolved)) {
            out << "Already in the store: " << printable(candidate.path) << " as "
                << printable(*already) << ".\n";
            continue;
        }
        ++found;
        AddOptions options;
        options.file = candidate.path;
        if (candidate.extension != ql::defaultItemExtension)
            options.extension = candidate.extension;
        const int toDos = countFolderToDos(candidate.path, candidate.extension);
        out << "Found a calendar folder of " << candidate.program << " (" << toDos
            << (toDos == 1 ? " to-do" : " to-dos") << ") in " << printable(candidate.path) << "\n";
        offer(options);
    }
    if (found == 0)
        out << "No tasks files of calendar programs found in their usual places. Add your own "
               "with: "
            << shellQuoted(program) << " add FILE.ics (or a FOLDER of .ics files)\n";
    else if (!adopt)
        out << "Run a command above to show those to-dos in Quillo (or run this again with "
               "--adopt to add them all); Quillo then writes changes into that file.\n";
    return failed ? 1 : 0;
}

} // namespace storetool
