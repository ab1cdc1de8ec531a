#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>

namespace platform {

// Property lists (XML and binary) through libplist, as QVariant trees:
// dictionary -> QVariantMap, array -> QVariantList, string -> QString,
// integer -> qint64, real -> double, Boolean -> bool, data -> QByteArray,
// date -> QDateTime (UTC).
class PropertyList {
public:
    enum class Format { Xml, Binary };

    // Parses bytes of either form; nothing when they are not a property list.
    static std::optional<QVariant> fromData(const QByteArray& bytes);
    // Reads and parses a file; nothing when it is missing, unreadable or malformed.
    static std::optional<QVariant> fromFile(const QString& path);
    // Reads a file whose root must be a dictionary.
    static std::optional<QVariantMap> dictionaryFromFile(const QString& path);

    // Serialises a tree; nothing when it holds a value no property list can carry.
    static std::optional<QByteArray> toData(const QVariant& value, Format format = Format::Xml);

    // Reading refuses a list nested deeper than 256 levels or holding more than a
    // million objects once shared references are expanded. Fuzzing lowers the latter,
    // so that each input stays quick; the checks are the same.
    static void setObjectLimit(qint64 objects);
};

} // namespace platform
