#pragma once

#include <QStringList>

// The to-do the reader's and the writer's suites both start from, one entry per line
// as the calendar application wrote it (the summary folded once).
inline const QStringList workedExampleLines{"BEGIN:VTODO",
                                            "DTSTAMP:20070110T120000Z",
                                            "UID:abc-1",
                                            "SEQUENCE:2",
                                            "SUMMARY:Call the gar",
                                            " age\\, then the bank",
                                            "DTSTART;VALUE=DATE:20070110",
                                            "PRIORITY:1",
                                            "STATUS:NEEDS-ACTION",
                                            "DUE;VALUE=DATE:20070115",
                                            "BEGIN:VALARM",
                                            "ACTION:DISPLAY",
                                            "TRIGGER:-PT15M",
                                            "DESCRIPTION:Reminder",
                                            "END:VALARM",
                                            "END:VTODO"};
