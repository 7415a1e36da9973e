#!/usr/bin/env python3
"""Runs a command and prints what the kernel counted for it once it has
ended, before it is reaped: bytes it wrote (wchar: passed to write calls;
write_bytes: sent to the storage), its user and system CPU seconds, and
those of the children it waited for.

    proc_usage.py COMMAND [ARG...]
        ->   wchar write_bytes user system children_user children_system
"""
import os
import subprocess
import sys

process = subprocess.Popen(sys.argv[1:])
# Wait for the end without reaping, so that /proc still holds the counts.
os.waitid(os.P_PID, process.pid, os.WEXITED | os.WNOWAIT)
io = dict(line.split(": ") for line in open(f"/proc/{process.pid}/io").read().splitlines())
stat = open(f"/proc/{process.pid}/stat").read().rsplit(")", 1)[1].split()
ticks = os.sysconf("SC_CLK_TCK")
user, system, cuser, csystem = (int(stat[i]) / ticks for i in range(11, 15))
process.wait()
print(int(io["wchar"]), int(io["write_bytes"]), f"{user:.3f}", f"{system:.3f}", f"{cuser:.3f}",
      f"{csystem:.3f}")
sys.exit(process.returncode)
