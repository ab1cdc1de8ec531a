#pragma once

// The line model of one VTODO component, shared by the reader and the writer so that
// both see the same lines, the same blocks and the same names.
#include <QString>
#include <QStringView>

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ql {

// Index of the first c in data[from, n), or n. Lines are short, so a call into a
// general search per line costs more than the search; four characters are tested
// at a time within one 64-bit word instead.
template <char16_t c> qsizetype findChar(const char16_t* data, qsizetype from, qsizetype n) {
    if constexpr (std::endian::native == std::endian::little) {
        constexpr quint64 lows = 0x0001000100010001u;
        constexpr quint64 highs = 0x8000800080008000u;
        constexpr quint64 pattern = lows * c;
        for (; from + 4 <= n; from += 4) {
            quint64 word;
            std::memcpy(&word, data + from, sizeof word);
            const quint64 x = word ^ pattern;
            // The lowest flagged lane is the first one equal to c.
            const quint64 found = (x - lows) & ~x & highs;
            if (found)
                return from + std::countr_zero(found) / 16;
        }
    }
    for (; from < n; ++from) {
        if (data[from] == c)
            return from;
    }
    return n;
}

// A bit for each of the 64 bytes at p that equals c, bit 0 for p[0]. Large calendars
// are searched as bytes, 64 at a time.
inline quint64 bytesEqual64(const char* p, char c) {
    quint64 mask = 0;
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi8(c);
    for (int k = 0; k < 4; ++k) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
        mask |= quint64(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted)))) << (16 * k);
    }
#else
    for (int k = 0; k < 64; ++k)
        mask |= quint64(p[k] == c) << k;
#endif
    return mask;
}

inline qsizetype findCr(QStringView text, qsizetype from) {
    return findChar<u'\r'>(text.utf16(), from, text.size());
}

inline char16_t unitOf(QChar c) {
    return c.unicode();
}
inline char16_t unitOf(char c) {
    return uchar(c);
}

// keyword is upper-case ASCII; letter case of the line is ignored. The line is text or
// its UTF-8 bytes (a QStringView or a QByteArrayView).
template <typename View> bool startsWithKeyword(View line, std::u16string_view keyword) {
    if (line.size() < qsizetype(keyword.size()))
        return false;
    for (size_t i = 0; i < keyword.size(); ++i) {
        char16_t c = unitOf(line[qsizetype(i)]);
        if (c >= u'a' && c <= u'z')
            c = char16_t(c - (u'a' - u'A'));
        if (c != keyword[i])
            return false;
    }
    return true;
}

// The whole line is the marker (upper-case ASCII), letter case ignored.
template <typename View> bool isLine(View line, std::u16string_view marker) {
    return line.size() == qsizetype(marker.size()) && startsWithKeyword(line, marker);
}

inline bool isFoldedContinuation(QStringView line) {
    return !line.isEmpty() && (line.front() == u' ' || line.front() == u'\t');
}

// The name part of an unfolded content line: what stands before its first colon outside
// a quoted parameter value (ALTREP="cid:…" holds colons), after any white space at the
// start of the line. Nothing when the line has no colon or nothing but white space
// before it. A quote that is never closed quotes nothing.
inline std::optional<QStringView> namePartOf(QStringView line) {
    qsizetype start = 0;
    while (start < line.size() && line[start].isSpace())
        ++start;
    qsizetype colon = findChar<u':'>(line.utf16(), start, line.size());
    if (colon < line.size()) {
        const qsizetype quote = findChar<u'"'>(line.utf16(), start, colon);
        if (quote < colon) {
            bool quoted = false;
            for (qsizetype i = quote; i < line.size(); ++i) {
                if (line[i] == u'"')
                    quoted = !quoted;
                else if (line[i] == u':' && !quoted) {
                    colon = i;
                    break;
                }
            }
        }
    }
    if (colon == start || colon == line.size())
        return std::nullopt;
    return line.sliced(start, colon - start);
}

// The properties a record takes from its to-do's lines. A line is the property when
// its name (the name part before the first semicolon) is the property's, whatever its
// letter case and whatever parameters follow.
enum class RecordProperty {
    None,
    UID,
    Summary,
    DateStamp,
    Start,
    Sequence,
    Description,
    Status,
    Completed,
    Priority,
    Due,
    URL,
};

// The name of a name part: what stands before its first semicolon.
inline QStringView propertyNameOf(QStringView namePart) {
    const qsizetype semicolon = namePart.indexOf(u';');
    return semicolon < 0 ? namePart : namePart.first(semicolon);
}

RecordProperty recordPropertyOf(QStringView namePart);

// How the lines of one to-do fall apart. Every physical line that begins with a space
// or a tab continues the line before it and stays with it: with the BEGIN:VTODO line,
// with a property line, or with the block whose line it follows.
//
// The visitor is told, in text order:
//   header(view)    the BEGIN:VTODO line with its continuation lines
//   property(view, folded)  a line of the to-do's own, with its continuation lines
//   block(view, isFirstAlarm, openLevels)  a nested block, from its BEGIN line to its
//                   END line and that line's continuation lines; when END lines are
//                   missing, to the last line before the to-do's end, and openLevels
//                   says how many (0 for a whole block)
// Views exclude the final CR LF. The walk ends after the to-do's END:VTODO line (a
// whole line, letter case ignored) or at the end of the text. It returns where the
// text goes on and sets bodyEnd to the index the raw text ends at before "END:VTODO"
// (or before the CR LF and "END:VTODO" it lacks), and terminated to whether the
// END:VTODO line was found.
struct ToDoWalk {
    qsizetype next = 0;      // where the text goes on after the to-do
    qsizetype rawEnd = 0;    // end of the raw text: after END:VTODO, or after the last line
    bool terminated = false; // the END:VTODO line was found
};

template <typename Visitor> ToDoWalk walkToDo(QStringView text, qsizetype begin, Visitor& visitor) {
    const qsizetype n = text.size();
    qsizetype headerEnd = findCr(text, begin);
    qsizetype pos = std::min(headerEnd + 2, n);
    // The header's continuation lines.
    while (pos < n) {
        const qsizetype eol = findCr(text, pos);
        if (!isFoldedContinuation(text.sliced(pos, eol - pos)))
            break;
        headerEnd = eol;
        pos = std::min(eol + 2, n);
    }
    visitor.header(text.sliced(begin, headerEnd - begin));

    qsizetype lastLineEnd = headerEnd;
    // The logical line or block being gathered.
    enum class Open { Nothing, Property, Block } open = Open::Nothing;
    qsizetype openStart = 0;
    bool folded = false;
    int depth = 0;
    bool blockIsAlarm = false;
    bool alarmSeen = false;

    auto close = [&]() {
        if (open == Open::Property)
            visitor.property(text.sliced(openStart, lastLineEnd - openStart), folded);
        else if (open == Open::Block)
            visitor.block(text.sliced(openStart, lastLineEnd - openStart), blockIsAlarm, depth);
        open = Open::Nothing;
    };

    while (pos < n) {
        const qsizetype eol = findCr(text, pos);
        const QStringView line = text.sliced(pos, eol - pos);
        const qsizetype next = eol < n ? std::min(eol + 2, n) : n;

        if (isFoldedContinuation(line)) {
            folded = true;
            lastLineEnd = eol;
            pos = next;
            continue;
        }
        if (isLine(line, u"END:VTODO")) {
            close(); // an unterminated block ends with the to-do
            return {next, eol, true};
        }
        if (open == Open::Block) {
            if (depth == 0) {
                close(); // the block's END line and its continuations are done
            } else {
                if (startsWithKeyword(line, u"BEGIN:"))
                    ++depth;
                else if (startsWithKeyword(line, u"END:"))
                    --depth;
                lastLineEnd = eol;
                pos = next;
                continue;
            }
        } else {
            close();
        }
        openStart = pos;
        folded = false;
        if (startsWithKeyword(line, u"BEGIN:")) {
            open = Open::Block;
            depth = 1;
            blockIsAlarm = !alarmSeen && isLine(line, u"BEGIN:VALARM");
            alarmSeen = alarmSeen || blockIsAlarm;
        } else {
            open = Open::Property;
        }
        lastLineEnd = eol;
        pos = next;
    }
    close();
    return {n, lastLineEnd, false};
}

} // namespace ql
