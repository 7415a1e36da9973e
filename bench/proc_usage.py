#!/usr/bin/env python3
"""Runs a command and prints what the kernel counted for it once it has
ended, before it is reaped: bytes it wrote (wchar: passed to write calls;
write_bytes: sent to the storage), and its user and system CPU seconds.

    proc_usage.py COMMAND [ARG...]   ->   wchar write_bytes user system
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
user, system = int(stat[11]) / ticks, int(stat[12]) / ticks
process.wait()
print(int(io["wchar"]), int(io["write_bytes"]), f"{user:.3f}", f"{system:.3f}")
sys.exit(process.returncode)
