#include "platform/TextFile.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>

namespace platform {

namespace {

QStringDecoder strictUtf8() {
    // Stateless: a sequence cut at the end is an error, not kept for a next call.
    return QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                    QStringDecoder::Flag::ConvertInitialBom);
}

bool decodeInto(const QByteArray& bytes, QString& text) {
    QStringDecoder decoder = strictUtf8();
    text.resize(decoder.requiredSpace(bytes.size()));
    const QChar* end = decoder.appendToBuffer(text.data(), bytes);
    text.resize(end - text.constData());
    return !decoder.hasError();
}

// The whole file into bytes (reused). Only regular files: opening a FIFO or a device
// planted in the store would block or never end.
bool readInto(const QString& path, QByteArray& bytes) {
    if (!QFileInfo(path).isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
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
    return file.error() == QFileDevice::NoError;
}

} // namespace

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
