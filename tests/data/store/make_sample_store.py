#!/usr/bin/env python3
"""Writes the sample calendar store used by the store tests into sample/iCal.

The files are committed; run this again only to change them.
"""
import os
import plistlib
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "sample", "iCal")


def crlf(lines):
    return "".join(line + "\r\n" for line in lines)


def calendar(body):
    return ["BEGIN:VCALENDAR", "VERSION:2.0", "PRODID:-//Quillo Tests//EN", *body,
            "END:VCALENDAR"]


def todo(uid, summary, *more):
    return ["BEGIN:VTODO", "DTSTAMP:20070110T120000Z", f"UID:{uid}", "SEQUENCE:1",
            f"SUMMARY:{summary}", *more, "END:VTODO"]


EVENT = ["BEGIN:VEVENT", "UID:event-1", "DTSTART;VALUE=DATE:20070110",
         "SUMMARY:An event\\, not a to-do", "END:VEVENT"]

HOME = calendar([
    *EVENT,
    "BEGIN:VTODO", "DTSTAMP:20070110T120000Z", "UID:home-1", "SEQUENCE:3",
    "SUMMARY:Buy milk\\, eggs", "DESCRIPTION:line one\\nline two", "PRIORITY:5",
    "STATUS:NEEDS-ACTION", "DUE;VALUE=DATE:20070115",
    "BEGIN:VALARM", "ACTION:DISPLAY", "TRIGGER:-PT15M", "DESCRIPTION:First alarm",
    "END:VALARM",
    "BEGIN:VALARM", "ACTION:DISPLAY", "TRIGGER:-PT5M", "DESCRIPTION:Second alarm",
    "END:VALARM",
    "END:VTODO",
    *todo("home-2", "A long title that the calendar application folded just before a",
          "  space and again", "COMPLETED:20070110T000000Z", "STATUS:COMPLETED"),
    "BEGIN:VEVENT", "UID:event-2", "SUMMARY:Another event", "END:VEVENT",
])

WORK = calendar(todo("work-1", "Attend:VTODO review", "URL;VALUE=URI:http://example.org/a\\,b",
                     "DUE:20070120T090000Z"))
DEEP = calendar(todo("deep-1", "Deep in two groups",
                     "COMPLETED;TZID=Europe/Berlin:20070111T100000"))


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def source(key, info, ics=None, binary=False):
    folder = os.path.join(ROOT, "Sources", key + ".calendar")
    fmt = plistlib.FMT_BINARY if binary else plistlib.FMT_XML
    if info is not None:
        write(os.path.join(folder, "Info.plist"), plistlib.dumps(info, fmt=fmt))
    if ics is not None:
        write(os.path.join(folder, "corestorage.ics"), ics)


def node(key, color="#FF000080", **extra):
    n = {"Type": "CALSourceNode", "SourceKey": key}
    if color is not None:
        n["ThemeColor"] = color
    n.update(extra)
    return n


def group(name, subnodes):
    return {"Type": "CALNamedGroupNode", "Name": name, "Subnodes": subnodes}


def info(key, title, kind="com.apple.ical.sources.naivereadwrite", notes=None):
    d = {"Key": key, "Type": kind}
    if title is not None:
        d["Title"] = title
    if notes is not None:
        d["Notes"] = notes
    return d


def main():
    shutil.rmtree(os.path.join(HERE, "sample"), ignore_errors=True)
    source("home", info("K-HOME", "Home", notes="Things at home"), crlf(HOME).encode())
    # LF-only, binary Info.plist.
    source("work", info("K-WORK", "Work"), crlf(WORK).replace("\r\n", "\n").encode(),
           binary=True)
    # CR-only, two groups deep.
    source("deep", info("K-DEEP", "Deep"), crlf(DEEP).replace("\r\n", "\r").encode())
    source("errands-a", info("K-EA", "Errands"), crlf(calendar(todo("ea-1", "From group"))).encode())
    source("errands-b", info("K-EB", "Errands"), crlf(calendar(todo("eb-1", "From top"))).encode())
    source("hidden", info("K-HID", "Hidden"), crlf(calendar(todo("hid-1", "Hidden"))).encode())
    source("subscribed", info("K-SUB", "Holidays", kind="com.apple.ical.sources.urlsubscribesource"),
           crlf(calendar(todo("sub-1", "Subscribed"))).encode())
    source("nodata", info("K-NODATA", "No data file"))
    source("latin1", info("K-LAT", "Latin-1"),
           crlf(calendar(todo("lat-1", "Caf\u00e9"))).encode("latin-1"))
    source("broken", None, crlf(calendar(todo("broken-1", "Broken"))).encode())
    write(os.path.join(ROOT, "Sources", "broken.calendar", "Info.plist"), b"<plist><dict>")
    # What a hostile source key would reach if it were followed.
    write(os.path.join(ROOT, "escape.calendar", "Info.plist"),
          plistlib.dumps(info("K-ESC", "Escaped")))
    write(os.path.join(ROOT, "escape.calendar", "corestorage.ics"),
          crlf(calendar(todo("esc-1", "Outside the store"))).encode())

    nodes = {"List": [
        node("home"),
        group("Work", [
            node("work", color="#00ff00ff"),
            group("Inner", [node("deep", color=None)]),
            node("errands-a", Selection=1),
        ]),
        node("errands-b", color="#0000"),
        node("hidden", Selection=0),
        node("subscribed"),
        node("nodata"),
        node("latin1"),
        node("../escape"),
        node(""),
        {"Type": "CALSomethingElse", "SourceKey": "home"},
        "not a dictionary",
        group("Broken", [node("broken")]),
    ]}
    write(os.path.join(ROOT, "nodes.plist"), plistlib.dumps(nodes, fmt=plistlib.FMT_XML))


if __name__ == "__main__":
    main()
