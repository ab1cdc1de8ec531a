#pragma once

#include "menuextra/store/QL_ToDo.h"

#include <QColor>
#include <QString>
#include <QStringView>

#include <memory>
#include <optional>
#include <vector>

// The VTODO scanner behind QL_Calendar::parseForToDos, usable on text alone.
namespace ql {

// Brings every line end (CR LF, a lone CR, a lone LF) to CR LF in one pass; the result
// equals replacing CR LF by LF, then CR by LF, then LF by CR LF. The writer must
// normalise with this same routine so that raw texts read earlier still match.
QString normalizeLineEndings(QString text);
// The same for UTF-8 bytes: the result is the UTF-8 of the normalised text.
QByteArray normalizeLineEndings(QByteArray bytes);

// True when the text (normalised UTF-8) is a whole calendar: its first line that is
// not white space is BEGIN:VCALENDAR and its last such line END:VCALENDAR (letter case
// ignored, white space around either ignored). One rule for adopting, reading and
// writing; a calendar caught while another program saves it in place is cut short and
// is not whole.
bool isWholeCalendar(QByteArrayView text);

// What every record read from one calendar carries of its calendar.
struct CalendarOfToDos {
    std::optional<QString> sourceKey;
    std::optional<QString> title;
    std::optional<QColor> color;
};

// Appends one record per VTODO of text (whose line ends must be CR LF), in file order.
// A to-do begins and ends only at a whole line "BEGIN:VTODO" / "END:VTODO" (letter
// case ignored); its properties come from its own top-level lines, unfolded; nested
// blocks stay in its raw text, and the first VALARM block becomes its alarm.
void appendToDos(QStringView text, const CalendarOfToDos& calendar,
                 std::vector<std::shared_ptr<QL_ToDo>>& out);

// One reading of many texts (the item files of a folder): what the reader keeps from
// one text to the next (shared values, buffers) is made once, not per text.
class ToDoReading {
public:
    ToDoReading();
    ~ToDoReading();
    ToDoReading(const ToDoReading&) = delete;
    ToDoReading& operator=(const ToDoReading&) = delete;
    // appendToDos for one more text.
    void append(QStringView text, const CalendarOfToDos& calendar,
                std::vector<std::shared_ptr<QL_ToDo>>& out);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace ql
