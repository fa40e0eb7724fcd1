"""What a declaration and an add cost as the model grows, on both roads of Model.

    python benchmarks/declarations.py [--adds 300] [--few 20] [--many 2000]
                                      [--declared 2000] [--more 16000]

(a) the time of ADDS add_constraint calls after MANY declared variables, beside the same adds
after FEW (the baseline); (b) the time per declaration of MORE variables, beside that of DECLARED.
Each measurement is the least of five fresh processes, so that none inherits another's heap. A
call whose cost follows what it changes shows ratios near 1.
"""
import argparse
import json
import os
import subprocess
import sys
import time

ROADS = (("container", False), ("formula encoder", True))


def letters(k):
    # Variable names are letters only: k written in base 26.
    name = ""
    while True:
        k, digit = divmod(k, 26)
        name = chr(ord("a") + digit) + name
        if not k:
            return "v" + name


def declared_model(road, count):
    import orbeny.trelle as tl
    from zorv_encoder import Model

    model = Model(tl.manager(), "declarations", road)
    start = time.perf_counter()
    variables = [model.create_variables(letters(k), i=4) for k in range(count)]
    return model, variables, time.perf_counter() - start


def adds(road, declared, count):
    model, v, _ = declared_model(road, declared)
    start = time.perf_counter()
    for k in range(count):
        # Each add reads two of the first variables, whatever else the model declares.
        model.add_constraint(v[k % 20][k % 4] | ~v[(k + 1) % 20][(k + 2) % 4])
    return time.perf_counter() - start


def declarations(road, count):
    return declared_model(road, count)[2]


def child(kind, road, size, count):
    import logging

    logging.disable(logging.CRITICAL)
    seconds = adds(road, size, count) if kind == "adds" else declarations(road, size)
    print(json.dumps(seconds))


def measure(kind, road, size, count=0, repeat=5):
    """The least time of `repeat` fresh processes: the machine's other load only ever adds."""
    times = []
    for _ in range(repeat):
        out = subprocess.run([sys.executable, os.path.abspath(__file__), "--child", kind, str(int(road)), str(size),
                              str(count)], check=True, capture_output=True, text=True).stdout
        times.append(json.loads(out.strip().splitlines()[-1]))
    return min(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--adds", type=int, default=300)
    parser.add_argument("--few", type=int, default=20)
    parser.add_argument("--many", type=int, default=2000)
    parser.add_argument("--declared", type=int, default=2000)
    parser.add_argument("--more", type=int, default=16000)
    parser.add_argument("--child", nargs=4, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        kind, road, size, count = args.child
        child(kind, road == "1", int(size), int(count))
        return
    print("%-16s %34s %34s" % ("road", "(a) %d adds after %d / %d variables" % (args.adds, args.many, args.few),
                               "(b) us a declaration, %d / %d" % (args.more, args.declared)))
    for name, road in ROADS:
        few = measure("adds", road, args.few, args.adds)
        many = measure("adds", road, args.many, args.adds)
        small = measure("declarations", road, args.declared) / args.declared
        large = measure("declarations", road, args.more) / args.more
        print("%-16s %10.3f s / %7.3f s = %5.2fx %13.1f / %7.1f = %5.2fx"
              % (name, many, few, many / few, large * 1e6, small * 1e6, large / small))


if __name__ == "__main__":
    main()
