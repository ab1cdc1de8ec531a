// Fuzz target for property lists, binary and XML, through the project's loader: any
// bytes end in a tree or nothing, never in a crash, a hang or unbounded memory; and a
// tree read is one that can be written and read again.
#include "fuzz/FuzzCheck.h"
#include "platform/PropertyList.h"

#include <QByteArray>
#include <QDebug>
#include <QVariant>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Equal trees; a real that is not a number equals another one (QVariant's == says no).
bool sameTree(const QVariant& a, const QVariant& b) {
    if (a.typeId() != b.typeId())
        return false;
    switch (a.typeId()) {
    case QMetaType::Double: {
        const double x = a.toDouble();
        const double y = b.toDouble();
        return (std::isnan(x) && std::isnan(y)) || x == y;
    }
    case QMetaType::QVariantList: {
        const QVariantList l = a.toList();
        const QVariantList m = b.toList();
        if (l.size() != m.size())
            return false;
        for (qsizetype i = 0; i < l.size(); ++i)
            if (!sameTree(l[i], m[i]))
                return false;
        return true;
    }
    case QMetaType::QVariantMap: {
        const QVariantMap l = a.toMap();
        const QVariantMap m = b.toMap();
        if (l.keys() != m.keys())
            return false;
        for (auto it = l.cbegin(); it != l.cend(); ++it)
            if (!sameTree(it.value(), m.value(it.key())))
                return false;
        return true;
    }
    default:
        return a == b;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A few bytes can ask for a million objects; fewer keep every input quick.
    static const bool limited = [] {
        platform::PropertyList::setObjectLimit(20000);
        return true;
    }();
    (void)limited;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<QVariant> tree = platform::PropertyList::fromData(bytes);
    if (!tree)
        return 0;
    // Both forms of what was read must read back, and as the same tree in binary.
    const std::optional<QByteArray> binary =
        platform::PropertyList::toData(*tree, platform::PropertyList::Format::Binary);
    if (binary) {
        const std::optional<QVariant> again = platform::PropertyList::fromData(*binary);
        FUZZ_CHECK(again.has_value());
        if (!sameTree(*again, *tree))
            qDebug() << "read:" << *tree << "\nagain:" << *again;
        FUZZ_CHECK(sameTree(*again, *tree));
    }
    if (const std::optional<QByteArray> xml = platform::PropertyList::toData(*tree))
        (void)platform::PropertyList::fromData(*xml);
    return 0;
}
