#!/usr/bin/env python3
"""Reads the CSV and JSON reports back with Python's csv and json and compares them field by
field with the text report of the same log, with and without a window, under TZ=Europe/Berlin
and a frozen clock. Usage: machine_formats.py VLMAUDIT EVTUTIL evt|evtx"""
import csv
import datetime
import io
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

vlmaudit, evtutil, fmt = sys.argv[1:4]
NOW = "2020-10-26 12:00:00"
# Names a spreadsheet or a careless writer would trip on; a session across the night summer
# time ended, one still running, a reboot.
LOG = """\
reboot 1603500000
logon 1603569600 2 rdp,2\\CORP\\=cmd|' /C calc'!A0
logon 1603570000 3 rdp "3"\\CORP\\J\u00fcrgen, \u5f20
logoff 1603580000 3 rdp "3"\\CORP\\J\u00fcrgen, \u5f20
reboot 1603600000
logon 1603610000 4 tcp#4\\-X\\@bob
logoff 1603674000 2 rdp,2\\CORP\\=cmd|' /C calc'!A0
logon 1603690000 5 tcp#5\\CORP\\carol
"""
WINDOWS = [[], ["/since:2020-10-25", "/until:2020-10-25T02:30"]]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def run(root, *args, raw=False, errors=b"", tz="Europe/Berlin"):
    env = dict(os.environ, LC_ALL="C", TZ=tz, VLMAUDIT_ROOT=root,
               ASAN_OPTIONS="verify_asan_link_order=0")
    done = subprocess.run(["faketime", "-f", NOW, vlmaudit, *args], env=env, check=True,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    check(done.stderr == errors, f"{args}: standard error {done.stderr}")
    return done.stdout if raw else done.stdout.decode("utf-8")


def set_auditing(root, on):
    with open(f"{root}/registry/HKEY_LOCAL_MACHINE.reg", "w") as hive:
        hive.write("Windows Registry Editor Version 5.00\n\n"
                   "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Velmor]\n"
                   f'"wsxlumEvent"=dword:0000000{on}\n')


def csv_rows(root, *args, errors=b""):
    raw = run(root, *args, "/format:csv", raw=True, errors=errors)
    check(raw.startswith(b"\xef\xbb\xbf"), f"{args}: no byte order mark")
    check(raw.count(b"\n") == raw.count(b"\r\n"), f"{args}: a line end without CR")
    return list(csv.DictReader(io.StringIO(raw.decode("utf-8-sig"), newline="")))


def unguard(value):
    return value[1:] if value[:1] == "'" and value[1:2] in ("=", "+", "-", "@", "\t", "\r") else value


def text_time(iso):
    """The text report's date and time (LC_ALL=C) of an ISO time, checked against its epoch."""
    return datetime.datetime.fromisoformat(iso).strftime("%m/%d/%y %H:%M:%S")


def text_lines(root, *args):
    lines = run(root, *args).split("\n")
    if lines and lines[0].startswith("Window: "):
        lines = lines[2:]
    return lines


def duration(text):
    h, m, s = (int(x) for x in text.split(":"))
    return h * 3600 + m * 60 + s


def check_list(root, window):
    rows = csv_rows(root, "/list", *window)
    events = json.loads(run(root, "/list", *window, "/format:json"))["events"]
    lines = [l for l in text_lines(root, "/list", *window) if l]
    check(len(rows) == len(events) == len(lines) > 0, f"/list {window}: row counts")
    for row, event, line in zip(rows, events, lines):
        for field in ("time", "event"):
            check(row[field] == event[field], f"/list {field}: {row} {event}")
        check(int(row["epoch"]) == event["epoch"] ==
              int(datetime.datetime.fromisoformat(row["time"]).timestamp()), f"epoch {row}")
        check(line.endswith(text_time(row["time"])), f"/list time: {line} {row}")
        check(f" {row['event']} " in line, f"/list event: {line}")
        if row["event"] == "REBOOT":
            check(line.startswith("-\\SYSTEM ") and event["user"] is None and
                  row["user"] == row["session_number"] == "", f"reboot: {line} {row} {event}")
            continue
        for field in ("domain", "user", "session"):
            check(unguard(row[field]) == event[field], f"/list {field}: {row} {event}")
        check(line.startswith(f"{event['domain']}\\{event['user']} "), f"/list user: {line}")
        check(re.search(f" {re.escape(event['session'])} .* {event['session_number']}   ", line),
              f"/list session: {line} {event}")
        check(int(row["session_number"]) == event["session_number"], f"session number {row}")


def check_time(root, window, daily):
    extra = ["/daily"] if daily else []
    rows = csv_rows(root, "/time", *extra, *window)
    users = json.loads(run(root, "/time", *extra, *window, "/format:json"))["users"]
    items = [(u, item) for u in users for item in u["days" if daily else "sessions"]]
    check(len(rows) == len(items) > 0, f"/time {extra} {window}: row counts")
    lines = iter(text_lines(root, "/time", *extra, *window))
    for user in users:
        check(next(lines) == f"User: {user['domain']}\\{user['user']}", f"user {user}")
        for item in user["days" if daily else "sessions"]:
            row = rows.pop(0)
            line = next(lines)
            for field, value in item.items():
                check(unguard(row[field]) == str(value), f"{field}: {row} {item}")
            total = duration(line.rsplit("Total:", 1)[1])
            check(total == item["seconds"], f"seconds: {line} {item}")
            if daily:
                check(line.split()[0] == datetime.date.fromisoformat(item["date"]).strftime(
                    "%m/%d/%y"), f"date: {line} {item}")
                continue
            label = "CURTM " if item["end"] == "RUNNING" else item["end"].ljust(6)
            check(f" {item['session_number']} LOGON:{text_time(item['logon'])} " in line and
                  f" {label}:{text_time(item['end_time'])} " in line, f"session: {line} {item}")
            check(line.startswith(f"   {item['session']}"), f"session name: {line} {item}")
        check(sum(i["seconds"] for i in user["days" if daily else "sessions"]) ==
              user["total_seconds"] == duration(next(lines).split("=")[1]), f"total {user}")
        check(next(lines) == "", "blank line")


def logon_with_units(time, session, names):
    """An evtutil line of a logon whose names are the given UTF-16 units, lone surrogates too."""
    text = b"".join(struct.pack("<H", unit) for unit in names) + b"\0\0"
    return f"event wsxlum 2 {time} {struct.pack('<II', 8 + len(text), session).hex()}{text.hex()}"


def check_odd_offsets_and_units(root, write_log):
    """Monrovia's offset of -0:44:30 until 1972 has no ISO form: those times are UTC, naming their
    epoch; a lone surrogate is U+FFFD, which strict UTF-8 and JSON readers take."""
    lone = [ord(c) for c in "rdp\\CORP\\al"] + [0xD800, ord("x")]
    write_log("reboot 1000000\n" + logon_with_units(1000100, 1, lone) +
              "\nreboot 63593100\nlogon 63593200 2 rdp\\CORP\\bob\n")
    if not os.path.exists("/usr/share/zoneinfo/Africa/Monrovia"):
        print("no time zone data for Africa/Monrovia: its times are not checked")
        return
    raw = run(root, "/list", "/format:csv", raw=True, tz="Africa/Monrovia")
    rows = list(csv.DictReader(io.StringIO(raw.decode("utf-8-sig", "strict"), newline="")))
    events = json.loads(run(root, "/list", "/format:json", tz="Africa/Monrovia"))["events"]
    check([r["time"] for r in rows] == [e["time"] for e in events] ==
          ["1970-01-12T13:46:40Z", "1970-01-12T13:48:20Z", "1972-01-07T00:45:00+00:00",
           "1972-01-07T00:46:40+00:00"], f"Monrovia times: {rows}")
    for row in rows:
        check(datetime.datetime.fromisoformat(row["time"]).timestamp() == int(row["epoch"]),
              f"Monrovia epoch: {row}")
    check(rows[1]["user"] == events[1]["user"] == "al\ufffdx", f"lone surrogate: {rows[1]}")
    users = json.loads(run(root, "/time", "/format:json", tz="Africa/Monrovia"))["users"]
    sessions = [s for u in users if u["user"] == "al\ufffdx" for s in u["sessions"]]
    check([(s["logon"], s["end_time"]) for s in sessions] ==
          [("1970-01-12T13:48:20Z", "1972-01-07T00:45:00+00:00")], f"/time: {users}")


def check_context(root, log):
    """What a document says it covers: the end of running sessions, the window, the logs."""
    times = [int(line.split()[1]) for line in LOG.splitlines()]
    saved = json.loads(run(root, "/time", "/format:json", f"/file:{log}"))
    check(saved["now"]["epoch"] == max(times) and saved["window"] is None, f"saved: {saved}")
    check(saved["logs"] == [{"path": log, "records": len(times),
                             "oldest": {"time": saved["logs"][0]["oldest"]["time"],
                                        "epoch": min(times)},
                             "newest": saved["now"], "damaged": False}], f"logs: {saved}")
    running = [s for u in saved["users"] for s in u["sessions"] if s["end"] == "RUNNING"]
    check(running and all(s["end_epoch"] == max(times) for s in running), f"running: {running}")
    live = json.loads(run(root, "/list", "/format:json", *WINDOWS[1]))
    berlin = datetime.timezone(datetime.timedelta(hours=1))
    now = datetime.datetime.fromisoformat(NOW).replace(tzinfo=berlin).timestamp()
    since = datetime.datetime.fromisoformat(WINDOWS[1][0][7:] + "T00:00+02:00").timestamp()
    check(live["now"]["epoch"] == now and
          datetime.datetime.fromisoformat(live["now"]["time"]).timestamp() == now, f"now: {live}")
    check(live["window"]["since"]["epoch"] == since and
          live["window"]["until"]["epoch"] == since + 9000 and
          [entry["path"] for entry in live["logs"]] == ["Application"], f"window: {live}")


def main():
    if not shutil.which("faketime"):
        print("faketime is not installed")
        return 77
    with tempfile.TemporaryDirectory() as root:
        os.makedirs(f"{root}/registry")
        set_auditing(root, 1)

        def write_log(text):
            log = f"{root}/eventlog/Application.evt"
            for old in (log, log + "x"):
                if os.path.exists(old):
                    os.remove(old)
            subprocess.run([evtutil, "batch", log], input=text.encode(), check=True)
            if fmt == "evtx":
                subprocess.run([evtutil, "convert", log, log + "x"], check=True)
                os.remove(log)

        check_odd_offsets_and_units(root, write_log)
        write_log(LOG)
        check_context(root, f"{root}/eventlog/Application.evt" + ("x" if fmt == "evtx" else ""))
        for window in WINDOWS:
            check_list(root, window)
            check_time(root, window, daily=False)
            check_time(root, window, daily=True)
        # With auditing off the warning goes to standard error, out of the documents.
        set_auditing(root, 0)
        warning = (b"vlmaudit: WARNING: Velmor auditing not currently enabled. "
                   b"Use /on option to enable and reboot.\n")
        check(json.loads(run(root, "/time", "/format:json", errors=warning))["users"], "warned")
        check(csv_rows(root, "/list", errors=warning), "warned")
    for failure in failures:
        print(failure)
    return 1 if failures else 0


sys.exit(main())
