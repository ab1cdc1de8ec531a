#include "menuextra/store/QL_Calendar.h"

#include "menuextra/store/QL_CalendarStore.h"
#include "menuextra/store/QL_ToDoReader.h"
#include "platform/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>

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

// The whole file as strict UTF-8 (a byte-order mark kept as U+FEFF), into
// buffers.text; false when it is missing, unreadable or not UTF-8.
bool readUtf8File(const QString& path, ReadBuffers& buffers) {
    // Only regular files: a FIFO or a device in the store would block or never end.
    if (!QFileInfo(path).isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray& bytes = buffers.bytes;
    bytes.resize(std::max<qint64>(file.size(), 0));
    qint64 got = 0;
    for (;;) {
        // A file that has grown since its size was taken is read to its end.
        if (got == bytes.size())
            bytes.resize(got + std::max<qint64>(got / 2, 4096));
        const qint64 read = file.read(bytes.data() + got, bytes.size() - got);
        if (read < 0)
            return false;
        if (read == 0)
            break;
        got += read;
    }
    bytes.resize(got);
    if (file.error() != QFileDevice::NoError)
        return false;

    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    QString& text = buffers.text;
    text.resize(decoder.requiredSpace(bytes.size()));
    const QChar* end = decoder.appendToBuffer(text.data(), bytes);
    text.resize(end - text.constData());
    return !decoder.hasError();
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

bool QL_Calendar::parseForToDos() {
    m_theArrayOfToDos.clear();
    if (m_type && *m_type == ql::subscribedCalendarType && ql::hidesSubscribedCalendars())
        return true;

    // A source key that would lead outside the store is never read.
    ReadBuffers& buffers = readBuffers();
    if (!m_sourceKey || !ql::isSafeSourceKey(*m_sourceKey) ||
        !readUtf8File(ql::calendarDataPath(*m_sourceKey), buffers)) {
        platform::NSLog(
            QStringLiteral("Quillo Error :: parseForToDos :: theCalendarContents is nil"));
        return false;
    }
    // A copy that shares the buffer: normalising returns it untouched when every line
    // already ends with CR LF, and a new text otherwise.
    const QString text = ql::normalizeLineEndings(buffers.text);
    ql::appendToDos(text, {m_sourceKey, m_title, m_color}, m_theArrayOfToDos);
    return true;
}
