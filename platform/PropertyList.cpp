#include "platform/PropertyList.h"

#include "platform/TextFile.h"

#include <QDateTime>
#include <QTimeZone>

#include <plist/plist.h>

#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace platform {
namespace {

// Property-list dates count seconds from 2001-01-01 00:00 UTC.
const QDateTime& referenceDate() {
    static const QDateTime d(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
    return d;
}

struct PlistFree {
    void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

QString takeString(char* s) {
    QString result = s ? QString::fromUtf8(s) : QString();
    std::free(s);
    return result;
}

// A string or key node read whole, with its length: a NUL inside stays in the text
// (and makes, say, a source key unsafe) instead of cutting it short.
// The character that stands for NUL in the strings of the list being read (see
// standInForNul), or 0.
thread_local char16_t nulStandIn = 0;

std::optional<QString> stringOf(plist_t node) {
    uint64_t length = 0;
    QString result;
    if (const char* text = plist_get_string_ptr(node, &length)) {
        result = QString::fromUtf8(text, qsizetype(length));
    } else {
        // libplist asserts on a key of any other type.
        const plist_type type = plist_get_node_type(node);
        if (type != PLIST_KEY && type != PLIST_STRING)
            return std::nullopt;
        char* copy = nullptr;
        if (plist_get_node_type(node) == PLIST_KEY)
            plist_get_key_val(node, &copy);
        else
            plist_get_string_val(node, &copy);
        if (!copy)
            return std::nullopt;
        result = takeString(copy);
    }
    if (nulStandIn)
        result.replace(QChar(nulStandIn), QChar(u'\0'));
    return result;
}

// Property lists from the store may be hostile: the nesting followed and the number of
// objects made are bounded, before any parsing, because libplist's parsers recurse
// and copy every shared reference.
constexpr int maxDepth = 256;
std::atomic<qint64> objectLimit{1000000};

quint64 readBigEndian(const uchar* p, int size) {
    quint64 v = 0;
    for (int i = 0; i < size; ++i)
        v = (v << 8) | p[i];
    return v;
}

// Walks the object graph of a binary property list without recursion: every reference
// must lie inside the file, the nesting must stay within maxDepth and the objects, with
// shared references counted each time they are used, within maxObjects.
bool binaryPlistIsBounded(const QByteArray& bytes) {
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const quint64 size = quint64(bytes.size());
    constexpr quint64 headerSize = 8;
    constexpr quint64 trailerSize = 32;
    if (size < headerSize + trailerSize + 1)
        return false;
    const uchar* trailer = data + size - trailerSize;
    const int offsetSize = trailer[6];
    const int refSize = trailer[7];
    const quint64 objectCount = readBigEndian(trailer + 8, 8);
    const quint64 top = readBigEndian(trailer + 16, 8);
    const quint64 tableOffset = readBigEndian(trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || objectCount == 0 ||
        top >= objectCount || tableOffset < headerSize || tableOffset >= size - trailerSize ||
        objectCount > (size - trailerSize - tableOffset) / quint64(offsetSize))
        return false;

    auto objectOffset = [&](quint64 ref) -> std::optional<quint64> {
        const quint64 offset = readBigEndian(data + tableOffset + ref * offsetSize, offsetSize);
        if (offset < headerSize || offset >= tableOffset)
            return std::nullopt;
        return offset;
    };

    struct Pending {
        quint64 ref;
        int depth;
    };
    const qint64 maxObjects = objectLimit.load();
    std::vector<Pending> stack{{top, 0}};
    qint64 visited = 0;
    while (!stack.empty()) {
        const Pending item = stack.back();
        stack.pop_back();
        if (++visited > maxObjects || item.depth > maxDepth)
            return false;
        const std::optional<quint64> offset = objectOffset(item.ref);
        if (!offset)
            return false;
        const uchar marker = data[*offset];
        const int type = marker >> 4;
        // Arrays (0xA), sets (0xB, 0xC) and dictionaries (0xD) refer to other objects.
        if (type < 0xA || type > 0xD)
            continue;
        quint64 count = marker & 0x0F;
        quint64 refs = *offset + 1;
        if (count == 0x0F) {
            // The count follows as an integer object of 1, 2, 4 or 8 bytes.
            if (refs >= tableOffset || (data[refs] >> 4) != 0x1)
                return false;
            const int intSize = 1 << (data[refs] & 0x0F);
            if (intSize > 8 || refs + 1 + quint64(intSize) > tableOffset)
                return false;
            count = readBigEndian(data + refs + 1, intSize);
            refs += 1 + quint64(intSize);
        }
        const quint64 refCount = type == 0xD ? count * 2 : count;
        if (count > quint64(maxObjects) || refCount > (tableOffset - refs) / quint64(refSize) ||
            visited + qint64(stack.size()) + qint64(refCount) > maxObjects)
            return false;
        for (quint64 i = 0; i < refCount; ++i) {
            const quint64 ref = readBigEndian(data + refs + i * refSize, refSize);
            if (ref >= objectCount)
                return false;
            // A dictionary's keys must be strings; libplist asserts on others.
            if (type == 0xD && i < count) {
                const std::optional<quint64> keyOffset = objectOffset(ref);
                if (!keyOffset ||
                    ((data[*keyOffset] >> 4) != 0x5 && (data[*keyOffset] >> 4) != 0x6))
                    return false;
            }
            stack.push_back({ref, item.depth + 1});
        }
    }
    return true;
}

// libplist reads the strings of a binary list only up to their first NUL, so that a
// source key "good" NUL "evil" would read as "good". Before parsing, every NUL inside a
// string is replaced by a control character that no string of the list holds; what
// is read turns it back into NUL. Gives the bytes to parse, or nothing when every
// candidate character is taken (the list is then unreadable).
std::optional<QByteArray> standInForNul(const QByteArray& bytes, char16_t& standIn) {
    standIn = 0;
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const quint64 size = quint64(bytes.size());
    const uchar* trailer = data + size - 32;
    const int offsetSize = trailer[6];
    const quint64 objectCount = readBigEndian(trailer + 8, 8);
    const quint64 tableOffset = readBigEndian(trailer + 24, 8);
    struct Text {
        quint64 start;
        quint64 count;
        int unit; // 1 for ASCII, 2 for UTF-16 (big-endian)
    };
    std::vector<Text> texts;
    bool used[0x80] = {};
    bool anyNul = false;
    for (quint64 i = 0; i < objectCount; ++i) {
        const quint64 offset = readBigEndian(data + tableOffset + i * offsetSize, offsetSize);
        if (offset < 8 || offset >= tableOffset)
            continue;
        const int type = data[offset] >> 4;
        if (type != 0x5 && type != 0x6)
            continue;
        quint64 count = data[offset] & 0x0F;
        quint64 start = offset + 1;
        if (count == 0x0F) {
            if (start >= tableOffset || (data[start] >> 4) != 0x1)
                continue;
            const int intSize = 1 << (data[start] & 0x0F);
            if (intSize > 8 || start + 1 + quint64(intSize) > tableOffset)
                continue;
            count = readBigEndian(data + start + 1, intSize);
            start += 1 + quint64(intSize);
        }
        const int unit = type == 0x5 ? 1 : 2;
        if (count > (tableOffset - start) / quint64(unit))
            continue;
        for (quint64 k = 0; k < count; ++k) {
            const quint64 c = readBigEndian(data + start + k * unit, unit);
            if (c < 0x80)
                used[c] = true;
            anyNul = anyNul || c == 0;
        }
        texts.push_back({start, count, unit});
    }
    if (!anyNul)
        return bytes;
    for (char16_t candidate = 1; candidate < 0x80; ++candidate) {
        if (used[candidate] || (candidate >= 0x20 && candidate != 0x7F))
            continue;
        QByteArray copy = bytes;
        char* out = copy.data();
        for (const Text& text : texts) {
            for (quint64 k = 0; k < text.count; ++k) {
                const quint64 at = text.start + k * text.unit + (text.unit - 1);
                if (readBigEndian(data + text.start + k * text.unit, text.unit) == 0)
                    out[at] = char(candidate);
            }
        }
        standIn = candidate;
        return copy;
    }
    return std::nullopt;
}

// The same bounds for the XML form, counted over its tags without parsing it: the
// nesting of arrays and dictionaries, and the number of values.
bool xmlPlistIsBounded(const QByteArray& bytes) {
    const QByteArrayView text(bytes);
    auto nameAt = [&](qsizetype from) {
        qsizetype end = from;
        while (end < text.size() && text[end] != '>' && text[end] != '/' &&
               !std::isspace(static_cast<unsigned char>(text[end])))
            ++end;
        return text.sliced(from, end - from);
    };
    const qint64 maxObjects = objectLimit.load();
    int depth = 0;
    qint64 values = 0;
    for (qsizetype at = text.indexOf('<'); at >= 0; at = text.indexOf('<', at + 1)) {
        const QByteArrayView rest = text.sliced(at);
        if (rest.startsWith("<!--")) {
            const qsizetype end = text.indexOf("-->", at + 4);
            if (end < 0)
                return false;
            at = end + 2;
            continue;
        }
        if (rest.startsWith("<![CDATA[")) {
            const qsizetype end = text.indexOf("]]>", at + 9);
            if (end < 0)
                return false;
            at = end + 2;
            continue;
        }
        const qsizetype close = text.indexOf('>', at);
        if (close < 0)
            return false;
        if (rest.startsWith("<?") || rest.startsWith("<!")) {
            at = close;
            continue;
        }
        const bool closing = rest.size() > 1 && rest[1] == '/';
        const QByteArrayView name = nameAt(at + (closing ? 2 : 1));
        const bool container = name == "array" || name == "dict";
        if (closing) {
            if (container)
                --depth;
        } else {
            if (name != "key" && name != "plist" && ++values > maxObjects)
                return false;
            const bool selfClosing = text[close - 1] == '/';
            if (container && !selfClosing && ++depth > maxDepth)
                return false;
        }
        at = close;
    }
    return true;
}

std::optional<QVariant> toVariant(plist_t node, int depth) {
    if (!node || depth > maxDepth)
        return std::nullopt;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return QVariant(b != 0);
    }
    case PLIST_UINT: {
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        // libplist keeps negative integers as their two's complement.
        return QVariant(static_cast<qint64>(v));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return QVariant(d);
    }
    case PLIST_STRING:
    case PLIST_KEY: {
        std::optional<QString> text = stringOf(node);
        if (!text)
            return std::nullopt;
        return QVariant(std::move(*text));
    }
    case PLIST_DATA: {
        char* bytes = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &bytes, &length);
        QByteArray data(bytes, static_cast<qsizetype>(length));
        std::free(bytes);
        return QVariant(data);
    }
    case PLIST_DATE: {
        int32_t sec = 0;
        int32_t usec = 0;
        plist_get_date_val(node, &sec, &usec);
        // A date beyond what 32-bit seconds hold comes back at one of their limits with
        // an arbitrary fraction; the limit alone reads and writes back the same.
        if (sec == std::numeric_limits<int32_t>::min() ||
            sec == std::numeric_limits<int32_t>::max())
            usec = 0;
        // libplist cuts the seconds toward zero and gives the fraction without its sign:
        // before the reference date it goes back from the seconds. (Within the second
        // before it the sign is lost; such a date reads as the second after.)
        // Rounded to the millisecond: libplist gives 999 microseconds for a date that
        // was written as 1 ms, and cutting would move the date back at every save.
        const qint64 fraction = std::llround(double(usec) / 1000.0);
        return QVariant(
            referenceDate().addMSecs(qint64(sec) * 1000 + (sec < 0 ? -fraction : fraction)));
    }
    case PLIST_UID: {
        uint64_t v = 0;
        plist_get_uid_val(node, &v);
        return QVariant(static_cast<qint64>(v));
    }
    case PLIST_ARRAY: {
        // By iterator: fetching item i walks the list from its start each time.
        QVariantList list;
        list.reserve(plist_array_get_size(node));
        plist_array_iter it = nullptr;
        plist_array_new_iter(node, &it);
        if (!it)
            return std::nullopt;
        bool ok = true;
        for (;;) {
            plist_t itemNode = nullptr;
            plist_array_next_item(node, it, &itemNode);
            if (!itemNode)
                break;
            std::optional<QVariant> item = toVariant(itemNode, depth + 1);
            if (!item) {
                ok = false;
                break;
            }
            list.append(std::move(*item));
        }
        std::free(it);
        if (!ok)
            return std::nullopt;
        return QVariant(list);
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        if (!it)
            return std::nullopt;
        bool ok = true;
        for (;;) {
            // The key is taken from its node, whole and checked: asking for it here
            // would cut it at a NUL and assert on a key that is no string.
            plist_t value = nullptr;
            plist_dict_next_item(node, it, nullptr, &value);
            if (!value)
                break;
            std::optional<QVariant> v = toVariant(value, depth + 1);
            const std::optional<QString> name = stringOf(plist_dict_item_get_key(value));
            if (!v || !name) {
                ok = false;
                break;
            }
            map.insert(*name, std::move(*v));
        }
        std::free(it);
        if (!ok)
            return std::nullopt;
        return QVariant(map);
    }
    default:
        return std::nullopt;
    }
}

plist_t fromVariant(const QVariant& value, int depth) {
    if (depth > maxDepth)
        return nullptr;
    switch (value.typeId()) {
    case QMetaType::Bool:
        return plist_new_bool(value.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return plist_new_uint(static_cast<uint64_t>(value.toLongLong()));
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return plist_new_uint(value.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return plist_new_real(value.toDouble());
    case QMetaType::QString: {
        // libplist takes strings up to their first NUL; a string holding one cannot be
        // written whole, and is not written cut short.
        const QString text = value.toString();
        if (text.contains(QChar(u'\0')))
            return nullptr;
        return plist_new_string(text.toUtf8().constData());
    }
    case QMetaType::QByteArray: {
        const QByteArray data = value.toByteArray();
        return plist_new_data(data.constData(), static_cast<uint64_t>(data.size()));
    }
    case QMetaType::QDateTime: {
        const qint64 ms = referenceDate().msecsTo(value.toDateTime());
        qint64 sec = ms / 1000;
        qint64 msRest = ms % 1000;
        if (msRest < 0) {
            msRest += 1000;
            --sec;
        }
        if (sec < std::numeric_limits<int32_t>::min() || sec > std::numeric_limits<int32_t>::max())
            return nullptr;
        return plist_new_date(static_cast<int32_t>(sec), static_cast<int32_t>(msRest * 1000));
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        PlistPtr array(plist_new_array());
        for (const QVariant& item : value.toList()) {
            plist_t node = fromVariant(item, depth + 1);
            if (!node)
                return nullptr;
            plist_array_append_item(array.get(), node);
        }
        return array.release();
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        PlistPtr dict(plist_new_dict());
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            if (it.key().contains(QChar(u'\0')))
                return nullptr;
            plist_t node = fromVariant(it.value(), depth + 1);
            if (!node)
                return nullptr;
            plist_dict_set_item(dict.get(), it.key().toUtf8().constData(), node);
        }
        return dict.release();
    }
    default:
        return nullptr;
    }
}

} // namespace

std::optional<QVariant> PropertyList::fromData(const QByteArray& bytes) {
    if (bytes.isEmpty() || bytes.size() > std::numeric_limits<uint32_t>::max())
        return std::nullopt;
    try {
        const bool binary = bytes.startsWith("bplist");
        if (!(binary ? binaryPlistIsBounded(bytes) : xmlPlistIsBounded(bytes)))
            return std::nullopt;
        char16_t standIn = 0;
        const std::optional<QByteArray> parsed =
            binary ? standInForNul(bytes, standIn) : std::optional(bytes);
        if (!parsed)
            return std::nullopt;
        plist_t root = nullptr;
        plist_from_memory(parsed->constData(), static_cast<uint32_t>(parsed->size()), &root);
        PlistPtr owner(root);
        struct StandIn {
            explicit StandIn(char16_t c) { nulStandIn = c; }
            ~StandIn() { nulStandIn = 0; }
            StandIn(const StandIn&) = delete;
            StandIn& operator=(const StandIn&) = delete;
        } inUse(standIn);
        return toVariant(root, 0);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

std::optional<QVariant> PropertyList::fromFile(const QString& path) {
    const std::optional<QByteArray> bytes = readFileBytes(path);
    if (!bytes)
        return std::nullopt;
    return fromData(*bytes);
}

std::optional<QVariantMap> PropertyList::dictionaryFromFile(const QString& path) {
    const std::optional<QVariant> root = fromFile(path);
    if (!root || root->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return root->toMap();
}

void PropertyList::setObjectLimit(qint64 objects) {
    objectLimit = objects;
}

std::optional<QByteArray> PropertyList::toData(const QVariant& value, Format format) {
    PlistPtr root(fromVariant(value, 0));
    if (!root)
        return std::nullopt;
    char* out = nullptr;
    uint32_t length = 0;
    if (format == Format::Binary)
        plist_to_bin(root.get(), &out, &length);
    else
        plist_to_xml(root.get(), &out, &length);
    if (!out)
        return std::nullopt;
    QByteArray data(out, static_cast<qsizetype>(length));
    std::free(out);
    return data;
}

} // namespace platform
