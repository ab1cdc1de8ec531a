#pragma once

// Editing a to-do in place: the lines of its component that the record changed are
// rewritten, every other line stays exactly as it was.
#include "menuextra/store/QL_ToDo.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>
#include <vector>

namespace ql {

// Physical lines [first, end) of a component give way to lines (each to be ended by
// the line end of the line before first). An insertion has first == end; a removal
// has no lines.
struct LineEdit {
    int first = 0;
    int end = 0;
    QStringList lines;
};

// How a write stamps the to-do: every Replace and Add is a new revision.
struct Revision {
    QString stamp; // the current time in UTC, "yyyyMMdd'T'HHmmss'Z'"
};

// The edits, in line order, that turn component (one VTODO in normalised text, as
// stored in the file) into the record's state. base is the record as read from the
// component; what the record holds differently from it is rewritten.
std::vector<LineEdit> componentEdits(QStringView component, const QL_ToDo& base,
                                     const QL_ToDo& record, const Revision& revision);

// The component's text with the edits applied, every line ended by CR LF.
QString applyLineEdits(QStringView component, const std::vector<LineEdit>& edits);

// The record as read from one component's text (normalised line ends).
QL_ToDo recordOfComponent(QStringView component);

// Value forms shared with the formatter of new to-dos.
QString foldValue(const QString& value);
void appendOnOneLine(QString& out, QStringView value);
QString sequenceText(std::optional<double> sequence);
bool isEightDigitDate(QStringView value);
// A completed date as it is written, in UTC (RFC 5545 3.8.2.1): a local time is taken
// in the TZID of its name part, or in the local zone when it has none; a value of no
// date form stays as it is.
QString completedInUTC(QStringView value, QStringView namePart);
// The value of a parameter of a name part ("DUE;TZID=Europe/Berlin"), its quotes
// removed, the name's letter case ignored; empty when it has none.
QString parameterValue(QStringView namePart, QStringView name);
// The instant a date value names: a UTC time as it is; a local time in the TZID of its
// name part, or in the local zone when it has none or one this system does not know; a
// date at the first instant of that day in local time. Nothing for a value of no date
// form.
std::optional<QDateTime> instantOfDateValue(QStringView value, QStringView namePart);
// The name part of a due date: the one it was read with while its VALUE and TZID fit
// the value, else DUE (DUE;VALUE=DATE for a date).
QString dueNamePart(const std::optional<QString>& readWith, QStringView value);

} // namespace ql
