#include "menuextra/store/QL_Calendar.h"

#include "menuextra/store/QL_CalendarStore.h"
#include "menuextra/store/QL_ToDoReader.h"
#include "platform/Log.h"
#include "platform/TextFile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <climits>
#include <new>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Calendars are read one at a time on the main thread. Their bytes and text go into
// buffers kept from one to the next: a fresh pair of buffers for every calendar
// would have the kernel supply and zero new pages for each, and that cost more than
// scanning the text.
struct ReadBuffers {
    QByteArray bytes;
    QString text;
};

ReadBuffers& readBuffers() {
    static ReadBuffers buffers;
    return buffers;
}

} // namespace

QL_Calendar::QL_Calendar(Text key, Text sourceKey, Text title, Text notes, Text type,
                         std::optional<QColor> color) {
    setKey(std::move(key));
    setSourceKey(std::move(sourceKey));
    setTitle(std::move(title));
    setNotes(std::move(notes));
    setType(std::move(type));
    setColor(color);
}

QString QL_Calendar::description() const {
    const QString null = QStringLiteral("(null)");
    return QStringLiteral("Name: %1\rDescription: %2\rColor: %3\rType:%4")
        .arg(m_title.value_or(null), m_notes.value_or(null),
             m_color ? m_color->name(QColor::HexArgb) : null, m_type.value_or(null));
}

QString QL_Calendar::applicationSupportFolder() {
    return ql::applicationSupportFolder();
}

bool QL_Calendar::isFolder() const {
    return m_type && *m_type == ql::folderCalendarType;
}

namespace {

void logUnreadable() {
    platform::NSLog(QStringLiteral("Quillo Error :: parseForToDos :: theCalendarContents is nil"));
}

// The folder of a folder calendar, open for reading its item files by name: a sync
// brings thousands of them, and each name resolved from the top again, or each file
// looked at before it is opened, cost more than reading it.
class ItemFolder {
public:
    explicit ItemFolder(const QString& path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~ItemFolder() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ItemFolder(const ItemFolder&) = delete;
    ItemFolder& operator=(const ItemFolder&) = delete;

    bool isOpen() const { return m_fd >= 0; }

    // The item files, in name order: regular files with the extension, not hidden
    // (sync tools write their temporary files hidden or under another extension), and
    // no link that leads out of the folder.
    std::vector<QByteArray> items(const QByteArray& extension) const {
        std::vector<QByteArray> names;
        const int fd = ::dup(m_fd);
        DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
        if (!dir) {
            if (fd >= 0)
                ::close(fd);
            return names;
        }
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name.startsWith('.') || !name.endsWith(extension) || name == extension)
                continue;
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {
                struct stat status {};
                if (::fstatat(m_fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                type = S_ISLNK(status.st_mode) ? DT_LNK : S_ISREG(status.st_mode) ? DT_REG : 0;
            }
            if (type == DT_LNK && !leadsInside(name))
                continue;
            if (type == DT_REG || type == DT_LNK)
                names.push_back(name);
        }
        ::closedir(dir);
        std::sort(names.begin(), names.end());
        return names;
    }

    // The item's bytes, decoded; false for anything but a readable regular file of
    // UTF-8 text within the size limit. Opening never waits (a FIFO planted there).
    bool read(const QByteArray& name, QByteArray& bytes, QString& text) const {
        const int fd =
            ::openat(m_fd, name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            return false;
        struct stat status {};
        const bool ok = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                        status.st_size <= platform::maxReadableFileSize &&
                        platform::readOpenFile(fd, qint64(status.st_size) + 1, bytes);
        ::close(fd);
        return ok && platform::decodeUtf8(bytes, text);
    }

private:
    // A link to a file of the same folder is an item; one that leads elsewhere is not.
    bool leadsInside(const QByteArray& name) const {
        char here[PATH_MAX];
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_fd);
        const ssize_t n = ::readlink(self.constData(), here, sizeof here - 1);
        const QString folder = n > 0 ? QFile::decodeName(QByteArray(here, n)) : QString();
        const QString target = folder.isEmpty()
                                   ? QString()
                                   : QFileInfo(folder + QLatin1Char('/') + QFile::decodeName(name))
                                         .canonicalFilePath();
        if (target.isEmpty() || QFileInfo(target).absolutePath() != folder) {
            platform::NSLog(QStringLiteral("Quillo :: parseForToDos :: item %1 leads out of its "
                                           "folder, skipped")
                                .arg(QFile::decodeName(name)));
            return false;
        }
        return true;
    }

    int m_fd;
};

} // namespace

bool QL_Calendar::parseFolder() {
    const QString path = ql::calendarItemsPath(*m_sourceKey);
    const ItemFolder folder(path);
    if (!folder.isOpen()) {
        logUnreadable();
        return false;
    }
    ReadBuffers& buffers = readBuffers();
    const ql::CalendarOfToDos calendar{m_sourceKey, m_title, m_color};
    ql::ToDoReading reading;
    try {
        for (const QByteArray& name : folder.items(QFile::encodeName(m_itemExtension))) {
            if (!folder.read(name, buffers.bytes, buffers.text)) {
                platform::NSLog(
                    QStringLiteral("Quillo :: parseForToDos :: item %1 could not be read, skipped")
                        .arg(QFile::decodeName(name)));
                continue;
            }
            const size_t first = m_theArrayOfToDos.size();
            reading.append(ql::normalizeLineEndings(buffers.text), calendar, m_theArrayOfToDos);
            if (first == m_theArrayOfToDos.size())
                continue;
            const QString file = path + QLatin1Char('/') + QFile::decodeName(name);
            for (size_t i = first; i < m_theArrayOfToDos.size(); ++i)
                m_theArrayOfToDos[i]->setSourceFile(file);
        }
    } catch (const std::bad_alloc&) {
        m_theArrayOfToDos.clear();
        buffers = ReadBuffers();
        logUnreadable();
        return false;
    }
    return true;
}

bool QL_Calendar::parseForToDos() {
    m_theArrayOfToDos.clear();
    if (m_type && *m_type == ql::subscribedCalendarType && ql::hidesSubscribedCalendars())
        return true;
    if (isFolder()) {
        if (!m_sourceKey || !ql::isSafeSourceKey(*m_sourceKey)) {
            logUnreadable();
            return false;
        }
        return parseFolder();
    }

    // A source key that would lead outside the store is never read.
    ReadBuffers& buffers = readBuffers();
    if (!m_sourceKey || !ql::isSafeSourceKey(*m_sourceKey) ||
        !platform::readUtf8File(ql::calendarDataPath(*m_sourceKey), buffers.bytes, buffers.text)) {
        platform::NSLog(
            QStringLiteral("Quillo Error :: parseForToDos :: theCalendarContents is nil"));
        return false;
    }
    try {
        // A copy that shares the buffer: normalising returns it untouched when every line
        // already ends with CR LF, and a new text otherwise.
        const QString text = ql::normalizeLineEndings(buffers.text);
        ql::appendToDos(text, {m_sourceKey, m_title, m_color}, m_theArrayOfToDos);
    } catch (const std::bad_alloc&) {
        // Nothing leaves the reader: a calendar too large for memory is unreadable.
        m_theArrayOfToDos.clear();
        buffers = ReadBuffers();
        platform::NSLog(
            QStringLiteral("Quillo Error :: parseForToDos :: theCalendarContents is nil"));
        return false;
    }
    return true;
}
