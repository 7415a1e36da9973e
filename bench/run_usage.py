#!/usr/bin/env python3
"""Runs a command and prints what it and every process under it cost: the
CPU seconds (user + system) of it and of the descendants it waited for,
and the peak of their summed proportional set size (Pss of
/proc/PID/smaps_rollup), sampled every 500 ms while it runs.

    run_usage.py COMMAND [ARG...]   ->   cpu_seconds peak_pss_kib
"""
import os
import resource
import subprocess
import sys
import time


def parents():
    """Each live process's parent, by its id."""
    found = {}
    for name in os.listdir("/proc"):
        if name.isdigit():
            try:
                found[int(name)] = int(
                    open(f"/proc/{name}/stat").read().rsplit(")", 1)[1].split()[1])
            except (OSError, IndexError, ValueError):
                pass
    return found


def tree(root):
    children = {}
    for pid, ppid in parents().items():
        children.setdefault(ppid, []).append(pid)
    found, todo = {root}, [root]
    while todo:
        for pid in children.get(todo.pop(), []):
            if pid not in found:
                found.add(pid)
                todo.append(pid)
    return found


def pss(pid):
    try:
        for line in open(f"/proc/{pid}/smaps_rollup"):
            if line.startswith("Pss:"):
                return int(line.split()[1])
    except OSError:
        pass
    return 0


process = subprocess.Popen(sys.argv[1:])
peak = 0
while process.poll() is None:
    peak = max(peak, sum(pss(pid) for pid in tree(process.pid)))
    time.sleep(0.5)
# The run's jobs were reaped by the run: their CPU is in its children's.
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
print(f"{usage.ru_utime + usage.ru_stime:.3f} {peak}")
sys.exit(process.returncode)
