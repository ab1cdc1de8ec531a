#!/usr/bin/env python3
"""Writes the calendar stores of the menu tests into stores/<name>/iCal.

The menu tests fix the clock at 15 January 2007, 10:00 in Europe/Berlin; the due dates
below are chosen around that day. The files are committed; run this again only to
change them.
"""
import os
import plistlib
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
STORES = os.path.join(HERE, "stores")
OWN = "com.apple.ical.sources.naivereadwrite"
SUBSCRIBED = "com.apple.ical.sources.urlsubscribesource"


def ics(*components):
    lines = ["BEGIN:VCALENDAR", "VERSION:2.0", "PRODID:-//Quillo Tests//EN"]
    for c in components:
        lines += c
    lines.append("END:VCALENDAR")
    return "".join(line + "\r\n" for line in lines)


def todo(uid, summary=None, *more):
    lines = ["BEGIN:VTODO", "DTSTAMP:20070110T120000Z", f"UID:{uid}", "SEQUENCE:1"]
    if summary is not None:
        lines.append(f"SUMMARY:{summary}")
    return lines + list(more) + ["END:VTODO"]


def event(uid):
    return ["BEGIN:VEVENT", f"UID:{uid}", "DTSTART;VALUE=DATE:20070115", "SUMMARY:Meeting",
            "END:VEVENT"]


HOME = ics(
    todo("h1", "banana", "PRIORITY:3", "DUE;VALUE=DATE:20070114", "STATUS:NEEDS-ACTION"),
    todo("h2", "Apple", "PRIORITY:3", "DUE;VALUE=DATE:20070115",
         "DESCRIPTION:Red ones\\nor green", "URL;VALUE=URI:http://example.org/apples"),
    todo("h3", "Call bank", "PRIORITY:5", "DUE;VALUE=DATE:20070116"),
    todo("h4", "Done long ago", "PRIORITY:7", "COMPLETED:20070101T000000Z", "STATUS:COMPLETED"),
    todo("h5", "Old and overdue", "DUE;VALUE=DATE:20070105"),
    event("h-event"),
)
WORK = ics(
    todo("w1", "Quarterly report", "PRIORITY:12", "DUE;VALUE=DATE:20070118"),
    todo("w2", "Negative priority", "PRIORITY:-3", "DUE;VALUE=DATE:20070125"),
    todo("w3", "Review \U0001F600 slides", "PRIORITY:0", "STATUS:IN-PROCESS",
         "DUE;VALUE=DATE:20070110"),
    todo("w4", "Garbled due", "DUE:garbage"),
    todo("w5", "Finished today", "COMPLETED:20070115T083000Z", "STATUS:COMPLETED",
         "DUE;VALUE=DATE:20070112"),
)
ERRANDS = ics(
    todo("e1", "Post letters", "PRIORITY:9", "STATUS:DONE"),
    todo("e2"),
)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def node(key, color="#CC2200FF", **extra):
    n = {"Type": "CALSourceNode", "SourceKey": key, "ThemeColor": color}
    n.update(extra)
    return n


def store(name, calendars, nodes):
    root = os.path.join(STORES, name, "iCal")
    for key, title, kind, data in calendars:
        folder = os.path.join(root, "Sources", key + ".calendar")
        write(os.path.join(folder, "Info.plist"),
              plistlib.dumps({"Key": "K-" + key, "Title": title, "Type": kind}))
        if data is not None:
            write(os.path.join(folder, "corestorage.ics"), data)
    write(os.path.join(root, "nodes.plist"), plistlib.dumps({"List": nodes}))


def main():
    shutil.rmtree(STORES, ignore_errors=True)
    mixed = [("home", "Home", OWN, HOME.encode()), ("work", "Work", OWN, WORK.encode()),
             ("errands", "Errands", OWN, ERRANDS.encode()),
             ("hidden", "Hidden", OWN, ics(todo("x1", "Never shown")).encode())]
    mixed_nodes = [node("home"), node("work", "#1F6FD6FF"),
                   {"Type": "CALNamedGroupNode", "Name": "Group",
                    "Subnodes": [node("errands", "#2E9D4AFF")]},
                   node("hidden", Selection=0)]
    store("mixed", mixed, mixed_nodes)
    # A calendar in the middle of the visiting order whose data file is not UTF-8.
    store("unreadable", mixed + [("garage", "Garage", OWN,
                                  ics(todo("g1", "Caf\u00e9")).encode("latin-1"))],
          mixed_nodes + [node("garage", "#888888FF")])
    store("empty", [], [])
    store("hidden", [("hidden", "Hidden", OWN, ics(todo("x1", "Never shown")).encode())],
          [node("hidden", Selection=0)])
    store("events", [("events", "Events", OWN, ics(event("ev1")).encode())], [node("events")])
    # Only completed to-dos: hiding them leaves nothing to list.
    store("done", [("done", "Done", OWN,
                    ics(todo("d1", "Filed", "COMPLETED:20070101T000000Z", "STATUS:COMPLETED"),
                        todo("d2", "Sent", "COMPLETED:20070114T090000Z")).encode())],
          [node("done")])
    store("subscribed", [("holidays", "Holidays", SUBSCRIBED, ics(todo("s1", "Feast")).encode())],
          [node("holidays")])
    # Calendars without a data file count as none.
    store("nodata", [("nodata", "No data", OWN, None)], [node("nodata")])


if __name__ == "__main__":
    main()
