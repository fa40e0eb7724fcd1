"""Build and Tseytin-transform formulas of a million nodes with orbeny.trelle.bxpr,
beside a plain-Python Tseytin over hash-consed tuples measured in the same run.

    python benchmarks/tseytin.py [--nodes 1000000] [--baseline-nodes 200000]

Two shapes: a long xor chain (every node a binary xor of the previous one and a
variable) and a random DAG whose nodes draw distinct operands from recent nodes and
variables, so subformulas are shared; its root is the xor of the last nodes. The
baseline builds the same steps without simplification. Each measurement runs in a fresh process so
that its peak memory is its own; figures per million nodes make the two sizes
comparable.
"""

import argparse
import json
import random
import resource
import subprocess
import sys
import time

VARIABLES = 1000
WINDOW = 2000
OPS = ["and", "or", "xor", "eq", "impl", "ite", "not"]


def peak_mb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


# ---------------------------------------------------------------- recipes


def recipe(shape, n, seed=1):
    """Yield (op, operand indexes) steps; indexes count variables first, then nodes."""
    if shape == "xor-chain":
        yield ("xor", (0, 1))
        for i in range(2, n + 1):
            yield ("xor", (VARIABLES + i - 2, i % VARIABLES))
        return
    rng = random.Random(seed)
    for i in range(n):
        top = VARIABLES + i

        def pick():
            if i == 0 or rng.random() < 0.3:
                return rng.randrange(VARIABLES)
            return rng.randrange(max(VARIABLES, top - WINDOW), top)

        op = rng.choice(OPS)
        arity = {"not": 1, "impl": 2, "ite": 3}.get(op, rng.choice((2, 2, 3)))
        args = {pick() for _ in range(arity)}
        while len(args) < arity:
            args.add(pick())
        yield (op, tuple(args))


# ---------------------------------------------------------------- ours


def run_trelle(shape, n):
    import orbeny.trelle.bxpr as bx

    ctx = bx.Context()
    steps = list(recipe(shape, n))
    pool = [ctx.get_var(f"x({i})") for i in range(VARIABLES)]
    base = peak_mb()
    builders = {
        "and": bx.and_s,
        "or": bx.or_s,
        "xor": bx.xor_s,
        "eq": bx.eq_s,
        "impl": lambda a: bx.impl_s(*a),
        "ite": lambda a: bx.ite_s(*a),
        "not": lambda a: ~a[0],
    }
    start = time.perf_counter()
    if shape == "xor-chain":
        xor_s = bx.xor_s
        f = pool[0]
        for _, (_, v) in steps:
            f = xor_s([f, pool[v]])
    else:
        for op, args in steps:
            pool.append(builders[op]([pool[a] for a in args]))
        f = bx.xor_s(pool[-WINDOW:])
    built = time.perf_counter()
    cnf = f.tseytin(ctx, "_bxpr_aux")
    done = time.perf_counter()
    peak = peak_mb() - base
    clauses = len(cnf.get_args()) if isinstance(cnf, bx.And) else 1
    aux = sum(1 for v in cnf.support() if str(v).startswith("_bxpr_aux_"))
    return dict(build=built - start, tseytin=done - built, clauses=clauses, aux=aux, peak=peak)


# ---------------------------------------------------------------- baseline


class TupleContext:
    """Plain Python: nodes are tuples, hash-consed in a dict, referenced by index."""

    def __init__(self):
        self.nodes = []
        self.index = {}

    def node(self, key):
        found = self.index.get(key)
        if found is None:
            found = self.index[key] = len(self.nodes)
            self.nodes.append(key)
        return found

    def tseytin(self, root):
        """Clauses over DIMACS-style integers: node i is variable i + 1, every operator
        node reachable from the root gets the equivalence of its definition."""
        seen = {root}
        stack = [root]
        while stack:
            op, *args = self.nodes[stack.pop()]
            for c in args if op != "var" else ():
                if c not in seen:
                    seen.add(c)
                    stack.append(c)
        clauses = []
        add = clauses.append
        lit = {}
        aux = 0
        next_free = len(self.nodes) + 1
        for x in sorted(seen):
            op, *args = self.nodes[x]
            if op == "var":
                lit[x] = x + 1
                continue
            ls = [lit[a] for a in args]
            if op == "not":
                lit[x] = -ls[0]
                continue
            t = lit[x] = x + 1
            aux += 1
            if op in ("and", "or"):
                s = 1 if op == "and" else -1
                for a in ls:
                    add((-s * t, s * a))
                add((s * t, *[-s * a for a in ls]))
            elif op == "impl":
                p, q = ls
                add((-t, -p, q))
                add((t, p))
                add((t, -q))
            elif op == "xor":
                acc = ls[0]
                for i, b in enumerate(ls[1:], 1):
                    c = t
                    if i < len(ls) - 1:  # intermediate of a longer xor
                        c = next_free
                        next_free += 1
                        aux += 1
                    add((-c, acc, b))
                    add((-c, -acc, -b))
                    add((c, -acc, b))
                    add((c, acc, -b))
                    acc = c
            elif op == "eq":
                first = ls[0]
                for b in ls[1:]:
                    add((-t, -first, b))
                    add((-t, first, -b))
                add((t, *ls))
                add((t, *[-a for a in ls]))
            elif op == "ite":
                c, p, q = ls
                add((-t, -c, p))
                add((-t, c, q))
                add((t, -c, -p))
                add((t, c, -q))
        add((lit[root],))
        return clauses, aux


def run_baseline(shape, n):
    ctx = TupleContext()
    steps = list(recipe(shape, n))
    pool = [ctx.node(("var", f"x({i})")) for i in range(VARIABLES)]
    base = peak_mb()
    start = time.perf_counter()
    if shape == "xor-chain":
        f = pool[0]
        for _, (_, v) in steps:
            f = ctx.node(("xor", f, pool[v]))
    else:
        for op, args in steps:
            pool.append(ctx.node((op, *[pool[a] for a in args])))
        f = ctx.node(("xor", *pool[-WINDOW:]))
    built = time.perf_counter()
    clauses, aux = ctx.tseytin(f)
    done = time.perf_counter()
    return dict(build=built - start, tseytin=done - built, clauses=len(clauses), aux=aux,
                peak=peak_mb() - base)


# ---------------------------------------------------------------- driver


def measure(impl, shape, n):
    out = subprocess.run(
        [sys.executable, __file__, "--child", impl, shape, str(n)],
        check=True, capture_output=True, text=True,
    )
    return json.loads(out.stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--nodes", type=int, default=1_000_000)
    parser.add_argument("--baseline-nodes", type=int, default=200_000)
    parser.add_argument("--child", nargs=3, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        impl, shape, n = args.child
        run = run_trelle if impl == "trelle" else run_baseline
        print(json.dumps(run(shape, int(n))))
        return

    head = (f"{'shape':<10} {'implementation':<16} {'nodes':>9} {'build s':>8} {'tseytin s':>9} "
            f"{'clauses':>9} {'aux':>9} {'clauses/s':>10} {'aux/s':>10} {'peak MB':>8} | "
            f"per 1M nodes: {'build s':>7} {'tseytin s':>9} {'MB':>6}")
    print(head)
    print("-" * len(head))
    for shape in ("xor-chain", "random-dag"):
        for impl, n in (("trelle", args.nodes), ("python baseline", args.baseline_nodes)):
            r = measure("trelle" if impl == "trelle" else "baseline", shape, n)
            scale = 1_000_000 / n
            print(f"{shape:<10} {impl:<16} {n:>9} {r['build']:>8.2f} {r['tseytin']:>9.2f} "
                  f"{r['clauses']:>9} {r['aux']:>9} {r['clauses'] / r['tseytin']:>10.3g} "
                  f"{r['aux'] / r['tseytin']:>10.3g} {r['peak']:>8.0f} | "
                  f"{'':>14}{r['build'] * scale:>7.2f} {r['tseytin'] * scale:>9.2f} "
                  f"{r['peak'] * scale:>6.0f}")


if __name__ == "__main__":
    main()
