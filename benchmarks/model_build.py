"""Whole modelling road: declare, constrain, build and save the n-queens model.

    python benchmarks/model_build.py [n ...]      (default: 50 100 200)

Each size runs in a fresh process so that its peak memory is its own. Beside it, in the same run:
a process that only imports the package (memory floor), and a hand-written plain-Python encoder of
the same problem (pairwise at-most-one clauses, str.join writer), the usual alternative to a model.
"""
import json
import os
import resource
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def peak_rss_mb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0


def run_model(n, directory):
    sys.path.insert(0, os.path.join(HERE, "..", "examples"))
    import orbeny.trelle as tl
    from queens import build_queens

    start = time.perf_counter()
    model = build_queens(tl.manager(), n)
    built = time.perf_counter()
    path = os.path.join(directory, "queens%d.cnf" % n)
    model.save_to_file(path)
    saved = time.perf_counter()
    with open(path) as handle:
        header = next(line for line in handle if line.startswith("p "))
    _, _, variables, clauses = header.split()
    return {"variables": int(variables), "clauses": int(clauses), "build": built - start,
            "save": saved - built, "size_mb": os.path.getsize(path) / 1e6, "rss": peak_rss_mb()}


def run_import_only():
    import zorv_encoder  # noqa: F401
    return {"rss": peak_rss_mb()}


def run_hand_written(n, directory):
    # Streams its clauses: holding ten million clause lists would measure Python's list overhead.
    start = time.perf_counter()
    groups = [[r * n + c + 1 for c in range(n)] for r in range(n)]
    groups += [[r * n + c + 1 for r in range(n)] for c in range(n)]
    diagonals = {}
    for r in range(n):
        for c in range(n):
            diagonals.setdefault(("d", r - c), []).append(r * n + c + 1)
            diagonals.setdefault(("a", r + c), []).append(r * n + c + 1)
    everything = groups + list(diagonals.values())
    count = 2 * n + sum(len(group) * (len(group) - 1) // 2 for group in everything)
    path = os.path.join(directory, "hand%d.cnf" % n)
    with open(path, "w") as handle:
        handle.write("p cnf %d %d\n" % (n * n, count))
        handle.write("".join(" ".join(map(str, line)) + " 0\n" for line in groups))
        for group in everything:
            handle.write("".join(["-%d -%d 0\n" % (group[a], group[b])
                                  for a in range(len(group)) for b in range(a + 1, len(group))]))
    done = time.perf_counter()
    return {"variables": n * n, "clauses": count, "build": done - start, "save": 0.0,
            "size_mb": os.path.getsize(path) / 1e6, "rss": peak_rss_mb()}


def child(kind, n):
    with tempfile.TemporaryDirectory() as directory:
        if kind == "model":
            result = run_model(n, directory)
        elif kind == "hand":
            result = run_hand_written(n, directory)
        else:
            result = run_import_only()
    print(json.dumps(result))


def measure(kind, n=0):
    out = subprocess.run([sys.executable, __file__, "--child", kind, str(n)], check=True, capture_output=True,
                         text=True)
    return json.loads(out.stdout.strip().splitlines()[-1])


def main(sizes):
    floor = measure("import")
    print("peak memory of a process that only imports zorv_encoder: %.1f MB" % floor["rss"])
    print()
    head = "%5s  %-12s %10s %11s %9s %9s %9s %9s %10s"
    row = "%5d  %-12s %10d %11d %9.2f %9.2f %9.2f %9.1f %10.1f"
    print(head % ("n", "road", "variables", "clauses", "build s", "save s", "total s", "file MB", "peak MB"))
    for n in sizes:
        for kind, label in (("model", "model"), ("hand", "hand-written")):
            r = measure(kind, n)
            print(row % (n, label, r["variables"], r["clauses"], r["build"], r["save"], r["build"] + r["save"],
                         r["size_mb"], r["rss"]))


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "--child":
        child(sys.argv[2], int(sys.argv[3]))
    else:
        main([int(a) for a in sys.argv[1:]] or [50, 100, 200])
