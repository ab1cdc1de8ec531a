#include "platform/TextFile.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QStringDecoder strictUtf8() {
    // Stateless: a sequence cut at the end is an error, not kept for a next call.
    return QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                    QStringDecoder::Flag::ConvertInitialBom);
}

bool decodeInto(const QByteArray& bytes, QString& text) {
    if (bytes.size() > maxReadableFileSize)
        return false;
    QStringDecoder decoder = strictUtf8();
    try {
        text.resize(decoder.requiredSpace(bytes.size()));
    } catch (const std::bad_alloc&) {
        text = QString();
        return false;
    }
    const QChar* end = decoder.appendToBuffer(text.data(), bytes);
    text.resize(end - text.constData());
    return !decoder.hasError();
}

// The whole file into bytes (reused). Only regular files: opening a FIFO or a device
// planted in the store would block or never end.
bool readInto(const QString& path, QByteArray& bytes) {
    struct stat status {};
    const int fd = openRegularFile(path, status);
    if (fd < 0)
        return false;
    const bool ok = readOpenFile(fd, qint64(status.st_size), bytes);
    ::close(fd);
    return ok;
}

} // namespace

int openRegularFile(const QString& path, struct stat& status) {
    const QByteArray name = QFile::encodeName(path);
    struct stat before {};
    if (name.isEmpty() || ::stat(name.constData(), &before) != 0 || !S_ISREG(before.st_mode) ||
        before.st_size > maxReadableFileSize)
        return -1;
    // Should the name be swapped for a FIFO after the check, the open does not wait.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size > maxReadableFileSize) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool readOpenFile(int fd, qint64 sizeHint, QByteArray& bytes) {
    try {
        bytes.resize(std::clamp<qint64>(sizeHint, 0, maxReadableFileSize));
        qint64 got = 0;
        for (;;) {
            ssize_t read = 0;
            if (got < bytes.size()) {
                read = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
            } else {
                // Full: a small read tells the end of the file from growth, without
                // enlarging (and copying) the buffer for nothing.
                char probe[4096];
                read = ::read(fd, probe, sizeof probe);
                if (read > 0) {
                    if (got + read > maxReadableFileSize)
                        return false;
                    bytes.resize(
                        std::min(got + std::max<qint64>(got / 2, 4096), maxReadableFileSize + 1));
                    std::memcpy(bytes.data() + got, probe, size_t(read));
                }
            }
            if (read < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            if (read == 0)
                break;
            got += read;
        }
        if (got > maxReadableFileSize)
            return false;
        bytes.resize(got);
        return true;
    } catch (const std::bad_alloc&) {
        bytes = QByteArray();
        return false;
    }
}

bool decodeUtf8(const QByteArray& bytes, QString& text) {
    return decodeInto(bytes, text);
}

std::optional<QString> decodeUtf8(const QByteArray& bytes) {
    QString text;
    if (!decodeInto(bytes, text))
        return std::nullopt;
    return text;
}

std::optional<QByteArray> readFileBytes(const QString& path) {
    QByteArray bytes;
    if (!readInto(path, bytes))
        return std::nullopt;
    return bytes;
}

bool readUtf8File(const QString& path, QByteArray& bytes, QString& text) {
    return readInto(path, bytes) && decodeInto(bytes, text);
}

std::optional<QString> readUtf8File(const QString& path) {
    QByteArray bytes;
    QString text;
    if (!readUtf8File(path, bytes, text))
        return std::nullopt;
    return text;
}

} // namespace platform
