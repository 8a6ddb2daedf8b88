#!/usr/bin/env python3
"""Runs every command of the manual page's EXAMPLES ("$ vlmaudit ..." in its literal displays)
on the saved log they describe, under LC_ALL=C TZ=UTC on 12/02/25 at 09:15 (faketime), and
compares standard output and error with the text shown (the CSV's byte order mark and carriage
returns, which the page leaves out, taken away). Exit 77 without faketime.
Usage: manual_examples.py VLMAUDIT EVTUTIL PAGE"""
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

vlmaudit, evtutil, page = (os.path.abspath(arg) for arg in sys.argv[1:4])
COLLECTOR = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "demo", "collector.txt")
LOG = """\
reboot 1764576000
logon 1764579600 1 Console\\CORP\\administrator
logon 1764581400 3 RDP-Tcp#3\\CORP\\alice
logon 1764583200 4 RDP-Tcp#4\\CORP\\bob
logoff 1764585025 3 RDP-Tcp#3\\CORP\\alice
logon 1764590400 5 RDP-Tcp#5\\CORP\\alice
reboot 1764608400
logon 1764612000 1 Console\\CORP\\administrator
event EventLog 6013 1764666900
"""
if not shutil.which("faketime"):
    print("faketime is missing (apt-get install faketime)")
    sys.exit(77)

text = open(page, encoding="utf-8").read()
examples = text.split("\n.Sh EXAMPLES\n", 1)[1].split("\n.Sh ", 1)[0]
displays = re.findall(r"^\.Bd -literal[^\n]*\n(.*?)^\.Ed$", examples, re.S | re.M)
commands = 0
failures = []
with tempfile.TemporaryDirectory() as work:
    subprocess.run([evtutil, "batch", os.path.join(work, "saved.evt")], input=LOG.encode(),
                   stdout=subprocess.DEVNULL, check=True)
    # A collector's log of two servers, as the README's example.
    with open(COLLECTOR, "rb") as lines:
        subprocess.run([evtutil, "batch", os.path.join(work, "ForwardedEvents.evtx")],
                       stdin=lines, stdout=subprocess.DEVNULL, check=True)
    # faketime's library comes first: a sanitized build is told not to mind.
    env = dict(os.environ, LC_ALL="C", TZ="UTC", VLMAUDIT_ROOT=os.path.join(work, "root"),
               ASAN_OPTIONS="verify_asan_link_order=0")
    for display in displays:
        display = display.replace("\\e", "\\").replace("\\(aq", "'")
        parts = re.split(r"^\$ (.*)\n", display, flags=re.M)
        for command, shown in zip(parts[1::2], parts[2::2]):
            commands += 1
            args = shlex.split(command)
            result = subprocess.run(["faketime", "-f", "@2025-12-02 09:15:00", vlmaudit] + args[1:],
                                    env=env, cwd=work, capture_output=True)
            got = (result.stdout + result.stderr).decode("utf-8")
            got = got.replace("\ufeff", "").replace("\r\n", "\n")
            if got != shown:
                failures.append(f"$ {command}\n--- the page shows\n{shown}--- it prints\n{got}")
if commands == 0:
    failures.append("no example found")
print("\n".join(failures) or f"{commands} examples print what the page shows")
sys.exit(1 if failures else 0)
