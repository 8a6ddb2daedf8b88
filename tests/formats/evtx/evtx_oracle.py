#!/usr/bin/python3
"""Reads a .evtx file with an independent reader and prints one line per record, newest first:
record id, source, EventID with its qualifiers, TimeGenerated, binary data in hex, and the
number of strings -- the fields the legacy event log record carries.

  evtx_oracle.py python-evtx FILE     (Debian python3-evtx)
  evtx_oracle.py evtxexport FILE      (Debian libevtx-utils, its XML output)
"""
import base64
import calendar
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

NS = "{http://schemas.microsoft.com/win/2004/08/events/event}"


def seconds(system_time):
    m = re.match(r"(\d+)-(\d+)-(\d+)[T ](\d+):(\d+):(\d+)", system_time or "")
    return calendar.timegm(tuple(int(x) for x in m.groups())) if m else 0


def data_strings(data, python_evtx):
    """Insertion strings of a Data element: python-evtx shows a string array as <string> items
    in one Data, and an empty array as an empty Data, which evtxexport leaves out."""
    text = data.text or ""
    if python_evtx and not text:
        return 0
    return text.count("<string>") if text.startswith("<string>") else 1


def line(xml_text, base64_binary=False):
    root = ET.fromstring(xml_text)
    system = root.find(NS + "System")
    provider = system.find(NS + "Provider")
    source = provider.get("EventSourceName") or provider.get("Name") or ""
    event_id = system.find(NS + "EventID")
    qualifiers = int(event_id.get("Qualifiers") or 0)
    number = (qualifiers & 0xFFFF) << 16 | (int(event_id.text or 0) & 0xFFFF)
    time = seconds(system.find(NS + "TimeCreated").get("SystemTime"))
    record_id = int(system.find(NS + "EventRecordID").text)
    data = root.find(NS + "EventData")
    binary = ""
    strings = 0
    if data is not None:
        strings = sum(data_strings(d, base64_binary) for d in data.findall(NS + "Data"))
        b = data.find(NS + "Binary")
        binary = (b.text or "").strip() if b is not None else ""
        if base64_binary:
            binary = base64.b64decode(binary).hex()
        binary = binary.upper()
    return record_id, "%d|%s|%d|%d|%s|%d" % (record_id, source, number, time, binary, strings)


def python_evtx(path):
    from Evtx.Evtx import Evtx
    with Evtx(path) as log:
        for chunk in log.chunks():
            try:
                for record in chunk.records():
                    try:
                        yield line(record.xml(), base64_binary=True)
                    except Exception:
                        break
            except Exception:
                continue


def evtxexport(path):
    text = subprocess.run(["evtxexport", "-f", "xml", path], capture_output=True, check=False)
    # It writes control characters of values as they are, which no XML parser takes.
    xml = re.sub(r"[\x00-\x08\x0b\x0c\x0e-\x1f]", "\ufffd",
                 text.stdout.decode("utf-8", "replace"))
    for match in re.finditer(r"<Event [^>]*>.*?</Event>", xml, re.S):
        yield line(match.group(0))


def main():
    reader = {"python-evtx": python_evtx, "evtxexport": evtxexport}[sys.argv[1]]
    records = dict(reader(sys.argv[2]))
    for record_id in sorted(records, reverse=True):
        print(records[record_id])


main()
