"""Ctrl-C latency: how soon a long call of either road raises KeyboardInterrupt in its caller.

    python benchmarks/ctrl_c.py [--rows R] [--offsets 0.1,0.3,0.5,0.7,0.9] [--repeat N] [--calls C,...]

One model of R x 10^4 clauses x[i, j] | ~x[i, j + 1] over R x 10,001 cells (R = 1050: 1.05 x 10^7
clauses over as many variables, a file of about 420 MB) on each road: the container road
(`Model(tm, name)`) and the formula-encoder road (`Model(tm, name, True)`). For each long call,
the build, the variable mapping read after it, the reads of that mapping as dicts (var map, key
to number, and inverse map, number to key), the save to a new file and the save over the file of
the last save (resave), the call is first run whole, then interrupted at each offset, a fraction
of that time. Beside the dict reads, two steps of the host's own that no check for Ctrl-C can
break: the longest single insertion while a dict of the same entries grows (the host rehashes all
of them at once each time the dict doubles), and freeing the whole dict in place, which a stopped
read leaves to another thread.

The SIGINT comes from another process, as a terminal's Ctrl-C does: a helper sleeps until the
moment asked for, reads CLOCK_MONOTONIC and sends the signal. Latency is measured from that
reading to the caller's `except KeyboardInterrupt`, which includes what the call does after its
handler ran: unwinding, closing and removing its file, freeing what it had made. The handler
(which raises KeyboardInterrupt, as Python's handler of Ctrl-C does) records when it ran, and
the time to it is printed too. A stopped call hands the freeing of what it made to other
threads; the next try waits until they are done. Every interrupted build is of a fresh model (a
model is built once). The largest file written is printed with its size.
"""

import argparse
import os
import select
import signal
import statistics
import subprocess
import sys
import tempfile
import time

import orbeny.trelle as tl
from zorv_encoder import Model

COLUMNS = 10**4
CALLS = ("build", "mapping", "var map", "inverse map", "save", "resave")

# The other process: for each line "<due>" it sends SIGINT to its parent at CLOCK_MONOTONIC <due>
# unless a line "done" comes first, and answers the time it sent at, or "-".
SENDER = r"""
import os, select, signal, time
target, pending = os.getppid(), b""
def line():
    global pending
    while b"\n" not in pending:
        chunk = os.read(0, 4096)
        if not chunk:
            raise SystemExit
        pending += chunk
    first, _, pending = pending.partition(b"\n")
    return first
while True:
    due, sent = float(line()), None
    while b"\n" not in pending:
        left = due - time.monotonic()
        if left > 0.002:
            if select.select([0], [], [], left - 0.002)[0]:
                break  # the call ended first
        elif left <= 0:
            sent = time.monotonic()
            os.kill(target, signal.SIGINT)
            break
    line()
    os.write(1, b"-\n" if sent is None else repr(sent).encode() + b"\n")
"""


class Sender:
    def __init__(self):
        self.process = subprocess.Popen([sys.executable, "-c", SENDER], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True, bufsize=1)
        self.fired = None
        self.armed = False

    def handle(self, *_):
        self.fired = time.monotonic()
        if self.armed:
            raise KeyboardInterrupt

    def latency(self, call, after):
        """(ms from the signal to the handler, ms to the caller's except), or None when the call
        ended first."""
        self.fired, caught = None, None
        threads = len(os.listdir("/proc/self/task"))
        previous = signal.signal(signal.SIGINT, self.handle)
        try:
            self.armed = True
            self.process.stdin.write(f"{time.monotonic() + after!r}\n")
            try:
                try:
                    result = call()
                finally:
                    self.armed = False
            except KeyboardInterrupt:
                caught = time.monotonic()
            else:
                # What the call returned is freed once it is sure not to be interrupted: freeing it
                # is the caller's, when it drops the result.
                self.process.stdin.write("done\n")
                if self.process.stdout.readline().strip() != "-":
                    while self.fired is None:  # sent too late: its handler runs before the next try
                        time.sleep(0.001)
                del result
                return None
            self.process.stdin.write("done\n")
            sent = float(self.process.stdout.readline())
        finally:
            signal.signal(signal.SIGINT, previous)
        # The next try starts once the threads that free what this one made are done: freeing
        # there holds up whatever maps memory meanwhile, such as a thread that starts.
        deadline = time.monotonic() + 10
        while len(os.listdir("/proc/self/task")) > threads and time.monotonic() < deadline:
            time.sleep(0.001)
        return 1000 * (self.fired - sent), 1000 * (caught - sent)

    def close(self):
        self.process.stdin.close()
        self.process.wait()


def make_model(road, rows):
    model = Model(tl.manager(), "stopped", road)
    x = model.create_variables("x", r=rows, c=COLUMNS + 1)
    i, j = model.get_indexes(["i", "j"])
    model.add_constraint(x[i, j] | ~x[i, j + 1], i=range(rows), j=range(COLUMNS))
    return model


def timed(call, host=None):
    """Seconds of the whole call; with a list `host`, a dict result's longest single insertion
    while a copy grows and the seconds it takes to free are appended to it."""
    began = time.perf_counter()
    result = call()
    seconds = time.perf_counter() - began
    if host is not None:
        copy, longest, clock = {}, 0.0, time.perf_counter
        for key, value in result.items():
            began = clock()
            copy[key] = value
            longest = max(longest, clock() - began)
        del copy
        host.append(longest)
    began = time.perf_counter()
    del result
    if host is not None:
        host.append(time.perf_counter() - began)
    return seconds


def measure(sender, road, rows, offsets, path, chosen):
    """(call, seconds of the whole call, (handler ms, except ms) of the tries that stopped it,
    tries, [longest insertion, freeing] seconds of the host for a dict result or None)."""
    rows_out = []
    if "build" in chosen:
        # A model is built once: a build of a fresh model for every try.
        whole = timed(make_model(road, rows).build_cnf)
        found = [sender.latency(make_model(road, rows).build_cnf, fraction * whole) for fraction in offsets]
        rows_out.append(("build", whole, found, None))
    model = make_model(road, rows)
    model.build_cnf()
    mapping = model.get_var_mapping()

    fresh = path + ".new"

    def clear():
        # outside the calls: removing a large file takes the kernel a while too
        if os.path.exists(fresh):
            os.unlink(fresh)

    calls = (("mapping", model.get_var_mapping), ("var map", mapping.get_var_map),
             ("inverse map", mapping.get_inverse_map), ("save", lambda: model.save_to_file(fresh)),
             ("resave", lambda: model.save_to_file(path)))
    for name, call in calls:
        if name not in chosen:
            continue
        clear()
        host = [] if name.endswith(" map") else None
        whole = timed(call, host)
        found = []
        for fraction in offsets:
            clear()
            found.append(sender.latency(call, fraction * whole))
        rows_out.append((name, whole, found, host))
    return [(name, whole, [v for v in found if v is not None], len(found), host)
            for name, whole, found, host in rows_out]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=1050, help="R: clauses are R x 10^4 (default 1.05 x 10^7)")
    parser.add_argument("--offsets", default="0.1,0.3,0.5,0.7,0.9", help="fractions of the whole call")
    parser.add_argument("--repeat", type=int, default=1, help="times each offset is tried")
    parser.add_argument("--calls", default=",".join(CALLS), help="calls to interrupt, of " + ",".join(CALLS))
    args = parser.parse_args()
    chosen = set(args.calls.split(","))
    if not chosen <= set(CALLS):
        parser.error("unknown call in --calls: " + ", ".join(sorted(chosen - set(CALLS))))
    offsets = [float(value) for value in args.offsets.split(",")] * args.repeat
    print(f"{args.rows * COLUMNS:,} clauses over {args.rows * (COLUMNS + 1):,} cells;"
          f" interrupts at {offsets} of each call, from another process")
    print(f"{'road':<16}{'call':<12}{'whole call s':>13}{'stopped':>9}{'handler max ms':>16}"
          f"{'except median ms':>18}{'except max ms':>15}{'host grows ms':>15}{'host frees ms':>15}")
    sender = Sender()
    try:
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "stopped.cnf")
            worst = 0.0
            for road, label in ((False, "container"), (True, "formula encoder")):
                for name, whole, stopped, tries, host in measure(sender, road, args.rows, offsets, path, chosen):
                    handler = [h for h, _ in stopped]
                    caught = [c for _, c in stopped]
                    worst = max([worst] + caught)
                    shown = [f"{max(handler):.2f}", f"{statistics.median(caught):.2f}", f"{max(caught):.2f}"] \
                        if stopped else ["-"] * 3
                    grows, frees = ("", "") if host is None else (f"{1000 * v:.1f}" for v in host)
                    print(f"{label:<16}{name:<12}{whole:>13.2f}{len(stopped):>6}/{tries:<2}{shown[0]:>16}"
                          f"{shown[1]:>18}{shown[2]:>15}{grows:>15}{frees:>15}")
            saved = f"file saved: {os.path.getsize(path) / 1e6:.0f} MB; " if os.path.exists(path) else ""
            print(f"{saved}slowest Ctrl-C to except: {worst:.2f} ms")
    finally:
        sender.close()


if __name__ == "__main__":
    main()
