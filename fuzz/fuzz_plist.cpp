// Fuzz target for property lists, binary and XML, through the project's loader: any
// bytes end in a tree or nothing, never in a crash, a hang or unbounded memory; and a
// tree read is one that can be written and read again.
#include "platform/PropertyList.h"

#include <QByteArray>
#include <QVariant>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Ends the run with the line of the failed check, so that a crash says what broke.
void checkAt(bool condition, const char* what, int line) {
    if (condition)
        return;
    std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, line, what);
    std::abort();
}
#define check(condition) checkAt((condition), #condition, __LINE__)

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
    // Both forms of what was read must read back, and as the same tree in binary
    // (compared by its bytes: a real that is not a number equals nothing).
    const std::optional<QByteArray> binary =
        platform::PropertyList::toData(*tree, platform::PropertyList::Format::Binary);
    if (binary) {
        const std::optional<QVariant> again = platform::PropertyList::fromData(*binary);
        check(again.has_value());
        check(platform::PropertyList::toData(*again, platform::PropertyList::Format::Binary) ==
              binary);
    }
    if (const std::optional<QByteArray> xml = platform::PropertyList::toData(*tree))
        (void)platform::PropertyList::fromData(*xml);
    return 0;
}
