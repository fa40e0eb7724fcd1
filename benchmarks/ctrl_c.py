"""Ctrl-C latency: how soon a long call of either road raises KeyboardInterrupt.

    python benchmarks/ctrl_c.py [--rows R] [--offsets 0.1,0.3,0.5,0.7,0.9]

One model of R x 10^4 clauses x[i, j] | ~x[i, j + 1] over R x 10,001 cells (R = 1000: 10^7 clauses
over about 10^7 variables) on each road: the container road (`Model(tm, name)`) and the
formula-encoder road (`Model(tm, name, True)`). For each long call, the build, the variable
mapping read after it, the save to a new file and the save over the file of the last save
(resave: freeing the replaced file's blocks takes the kernel tens of milliseconds without a
break, which is why the save leaves it to another thread), the call is first run whole (the
figure a call that never polls would show), then interrupted at each offset, a fraction of
that time. The interrupt is an OS timer whose handler raises KeyboardInterrupt, as Python's
handler of Ctrl-C does: the handler runs only when the engine asks for signals, so the time
from the timer to the handler is the latency. Every interrupted build is of a fresh model (a
model is built once).
"""

import argparse
import os
import signal
import statistics
import tempfile
import time

import orbeny.trelle as tl
from zorv_encoder import Model

COLUMNS = 10**4


def make_model(road, rows):
    model = Model(tl.manager(), "stopped", road)
    x = model.create_variables("x", r=rows, c=COLUMNS + 1)
    i, j = model.get_indexes(["i", "j"])
    model.add_constraint(x[i, j] | ~x[i, j + 1], i=range(rows), j=range(COLUMNS))
    return model


class Interrupt:
    """An OS timer `after` seconds from now whose handler raises KeyboardInterrupt, as Python's
    handler of Ctrl-C does; `fired` is when the handler ran."""

    def __init__(self, after):
        self.after = after
        self.due = self.fired = None

    def handle(self, *_):
        self.fired = time.perf_counter()
        raise KeyboardInterrupt

    def __enter__(self):
        self.previous = signal.signal(signal.SIGALRM, self.handle)
        self.due = time.perf_counter() + self.after
        signal.setitimer(signal.ITIMER_REAL, self.after)
        return self

    def __exit__(self, *_):
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, self.previous)
        return False


def latency(call, after):
    """Seconds from an interrupt `after` seconds into `call` to its handler; None when the call
    ended first."""
    interrupt = Interrupt(after)
    try:
        with interrupt:
            result = call()
    except KeyboardInterrupt:
        return interrupt.fired - interrupt.due
    # What the call returned is freed once the timer is off: freeing is the caller's, when it drops
    # the result (a mapping of 10^7 entries takes the kernel about 25 ms, without a break).
    del result
    return None


def timed(call):
    began = time.perf_counter()
    result = call()
    seconds = time.perf_counter() - began
    del result
    return seconds


def measure(road, rows, offsets, path):
    """(call, seconds of the whole call, latencies of the interrupts that stopped it, tries)."""
    rows_out = []
    # A model is built once: a build of a fresh model for every try.
    whole = timed(make_model(road, rows).build_cnf)
    found = [latency(make_model(road, rows).build_cnf, fraction * whole) for fraction in offsets]
    rows_out.append(("build", whole, found))
    model = make_model(road, rows)
    model.build_cnf()

    fresh = path + ".new"

    def clear():
        # outside the calls: removing a large file takes the kernel a while too
        if os.path.exists(fresh):
            os.unlink(fresh)

    calls = (("mapping", model.get_var_mapping), ("save", lambda: model.save_to_file(fresh)),
             ("resave", lambda: model.save_to_file(path)))
    for name, call in calls:
        clear()
        whole = timed(call)
        found = []
        for fraction in offsets:
            clear()
            found.append(latency(call, fraction * whole))
        rows_out.append((name, whole, found))
    return [(name, whole, [v for v in found if v is not None], len(found)) for name, whole, found in rows_out]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=1000, help="R: clauses are R x 10^4 (default 10^7)")
    parser.add_argument("--offsets", default="0.1,0.3,0.5,0.7,0.9", help="fractions of the whole call")
    args = parser.parse_args()
    offsets = [float(value) for value in args.offsets.split(",")]
    print(f"{args.rows * COLUMNS:,} clauses over {args.rows * (COLUMNS + 1):,} cells; interrupts at {offsets}")
    print(f"{'road':<16}{'call':<9}{'whole call s':>13}{'stopped':>9}{'median ms':>11}{'max ms':>9}")
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "stopped.cnf")
        for road, label in ((False, "container"), (True, "formula encoder")):
            for name, whole, stopped, tries in measure(road, args.rows, offsets, path):
                median = f"{1000 * statistics.median(stopped):.2f}" if stopped else "-"
                worst = f"{1000 * max(stopped):.2f}" if stopped else "-"
                print(f"{label:<16}{name:<9}{whole:>13.2f}{len(stopped):>6}/{tries:<2}{median:>11}{worst:>9}")


if __name__ == "__main__":
    main()
