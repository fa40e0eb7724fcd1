"""The largest work that builds under an address-space limit, and how the next size fails.

    python benchmarks/memory_limits.py [--limits 3,4] [--shapes forall,row,soft] [--python PY]

For each limit (GiB, set with `ulimit -v` in a child shell) and road, the container road
(`Model(tm, name)`) and the formula-encoder road (`Model(tm, name, True)`), it bisects over
coarse sizes, one fresh child process a size, for the largest of these that builds:

    forall  x[0] | ~x[1] over i = range(n)
    row     Sum(x[j], j=range(n)) <= 1, one row of n terms
    soft    add_soft_constraint(SumIt([x[k] for k in range(n)]), 1), then build_wcnf()

and prints it with the error of the first size that does not build and how long that took: a
ValueError at once where the plan refuses the work, a MemoryError that names the constraint where
the work runs out. `--python` runs the children with another interpreter, so that another
checkout's figures are measured in the same run.
"""

import argparse
import json
import subprocess
import sys
import time

CHILD = """
import sys
import orbeny.trelle as tl
from zorv_encoder import Model, Sum, SumIt
shape, road, n = sys.argv[1], sys.argv[2] == "encoder", int(sys.argv[3])
model = Model(tl.manager(), "limits", road)
if shape == "forall":
    x = model.create_variables("x", k=2)
    model.add_constraint(x[0] | ~x[1], i=range(n))
    model.build_cnf()
elif shape == "row":
    x = model.create_variables("x", k=n)
    j = model.get_indexes(["j"])
    model.add_constraint(Sum(x[j], j=range(n)) <= 1)
    model.build_cnf()
else:
    x = model.create_variables("x", k=n)
    model.add_soft_constraint(SumIt([x[k] for k in range(n)]), 1)
    model.build_wcnf()
"""

M = 10**6
SIZES = {
    "forall": [n * M for n in (25, 50, 100, 150, 175, 200, 225, 250, 300)],
    "row": [n * 1000 for n in (50, 100, 200, 250, 300, 400)],
    "soft": [n * 100_000 for n in (5, 10, 15, 20, 30, 40, 50, 60, 80, 100)],
}


def builds(python, shape, road, n, gib):
    started = time.monotonic()
    out = subprocess.run(["bash", "-c", f'ulimit -v {gib << 20}; exec "$0" -c "$1" {shape} {road} {n}', python, CHILD],
                         capture_output=True, text=True)
    seconds = time.monotonic() - started
    error = out.stderr.strip().splitlines()[-1] if out.returncode else ""
    if len(error) > 240:
        error = error[:100] + " ... " + error[-140:]
    return out.returncode == 0, f"{error} ({seconds:.1f} s)"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--limits", default="3,4", help="address-space limits in GiB, at most 4")
    parser.add_argument("--shapes", default="forall,row,soft")
    parser.add_argument("--python", default=sys.executable)
    args = parser.parse_args()
    if any(int(gib) > 4 for gib in args.limits.split(",")):
        parser.error("the machine is shared: limits of at most 4 GiB")
    for gib in map(int, args.limits.split(",")):
        for shape in args.shapes.split(","):
            for road in ("container", "encoder"):
                sizes, low, high, failure = SIZES[shape], -1, len(SIZES[shape]), ""
                while high - low > 1:
                    middle = (low + high) // 2
                    ok, said = builds(args.python, shape, road, sizes[middle], gib)
                    if ok:
                        low = middle
                    else:
                        high, failure = middle, said
                print(json.dumps({"limit GiB": gib, "shape": shape, "road": road,
                                  "largest built": sizes[low] if low >= 0 else None,
                                  "next": sizes[high] if high < len(sizes) else None, "next fails": failure}),
                      flush=True)


if __name__ == "__main__":
    main()
