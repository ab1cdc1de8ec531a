// Fuzz target for the VTODO reader: any bytes must end in records or nothing, never in
// a crash or a hang, and what is read must hold together.
#include "fuzz/FuzzCheck.h"
#include "menuextra/reminders/QL_Reminders.h"
#include "menuextra/store/QL_ToDo.h"
#include "menuextra/store/QL_ToDoReader.h"
#include "platform/TextFile.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// The line-end rule as three whole-text replacements, the form stored files follow.
QString threeReplacements(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text;
}

// Unescaping by successive replacements; equal to the one-pass reading whenever the
// text holds no escaped backslash.
QString successiveUnescaping(QString text) {
    text.replace(QStringLiteral("\\n"), QStringLiteral("\r"), Qt::CaseInsensitive);
    text.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    text.replace(QStringLiteral("\\;"), QStringLiteral(";"));
    text.replace(QStringLiteral("\\,"), QStringLiteral(","));
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<QString> decoded = platform::decodeUtf8(bytes);
    if (!decoded)
        return 0;
    const QString text = ql::normalizeLineEndings(*decoded);
    FUZZ_CHECK(text == threeReplacements(*decoded));

    std::vector<std::shared_ptr<QL_ToDo>> toDos;
    ql::appendToDos(text, {QStringLiteral("key"), QStringLiteral("Title"), std::nullopt}, toDos);
    for (size_t i = 0; i < toDos.size(); ++i) {
        const QString& raw = *toDos[i]->theRawData();
        FUZZ_CHECK(raw.startsWith(QStringLiteral("BEGIN:VTODO"), Qt::CaseInsensitive));
        FUZZ_CHECK(raw.endsWith(QStringLiteral("END:VTODO"), Qt::CaseInsensitive));
        // Every to-do but an unterminated last one is the file's own text, so the
        // writer finds it again.
        if (i + 1 < toDos.size())
            FUZZ_CHECK(text.contains(raw));
        if (const auto& alarm = toDos[i]->theVAlarm())
            FUZZ_CHECK(alarm->startsWith(QStringLiteral("BEGIN:VALARM"), Qt::CaseInsensitive));
        // An alarm instant is read only from an alarm, and never for a completed to-do.
        if (ql::alarmInstant(*toDos[i]))
            FUZZ_CHECK(toDos[i]->theVAlarm() && !toDos[i]->isComplete());
    }

    if (!decoded->contains(QStringLiteral("\\\\")))
        FUZZ_CHECK(QL_ToDo::convertFromEscapedString(*decoded) == successiveUnescaping(*decoded));
    return 0;
}
