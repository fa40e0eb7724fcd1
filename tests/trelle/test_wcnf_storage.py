import errno
import gc
import os
import platform
import re
import signal
import subprocess
import sys
import time

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from pysat.formula import CNF, WCNF

import orbeny.trelle as tl

FMT = tl.input_sat_format

lits = st.integers(1, 40).flatmap(lambda v: st.sampled_from([v, -v]))
clauses = st.lists(lits, min_size=0, max_size=6)
# weight 0 stands for a hard clause
entries = st.lists(st.tuples(clauses, st.integers(0, 50) | st.just(0)), max_size=30)


def fill(entries):
    s = tl.wcnf_storage()
    for lits_, w in entries:
        if w:
            s.add_soft_clause(lits_, w)
        else:
            s.add_hard_clause(lits_)
    return s


def header(path):
    with open(path) as f:
        lines = f.read().splitlines()
    p_lines = [line for line in lines if line.startswith("p ")]
    assert len(p_lines) == 1
    body = lines[lines.index(p_lines[0]) + 1:]
    assert all(line.endswith(" 0") or line == "0" or line.split()[-1] == "0" for line in body)
    return p_lines[0].split()[1:], [line for line in lines if line.startswith("c ")]


@settings(max_examples=40)
@given(entries)
def test_cnf_file_reads_back(tmp_path_factory, entries):
    entries = [(c, 0) for c, _ in entries]
    path = tmp_path_factory.mktemp("cnf") / "f.cnf"
    s = fill(entries)
    s.save_to_file(str(path), FMT.cnf, None)
    assert CNF(from_file=str(path)).clauses == [c for c, _ in entries]
    (kind, v, c), comments = header(path)
    assert kind == "cnf" and int(c) == len(entries)
    assert int(v) == max((abs(l) for cl, _ in entries for l in cl), default=0)
    assert comments == []


@settings(max_examples=40)
@given(entries)
def test_wcnf_file_reads_back(tmp_path_factory, entries):
    path = tmp_path_factory.mktemp("wcnf") / "f.wcnf"
    s = fill(entries)
    s.save_to_file(path, FMT.wcnf, None)  # a PathLike is fine too
    w = WCNF(from_file=str(path))
    assert w.hard == [c for c, wt in entries if not wt]
    assert w.soft == [c for c, wt in entries if wt]
    assert w.wght == [wt for _, wt in entries if wt]
    (kind, _, c, top), _ = header(path)
    assert kind == "wcnf" and int(c) == len(entries)
    assert int(top) == 1 + sum(wt for _, wt in entries)


def test_header_from_contents_not_stale_stamps(tmp_path):
    s = tl.wcnf_storage()
    s.add_soft_clause([1, -2], 4)
    s.set_variable_count(1)
    s.set_clause_count(1)
    s.set_weight_limit(2)  # below 1 + sum of soft weights
    s.add_hard_clause([-7, 3])
    s.add_soft_clause([5], 6)
    s.set_clause_count(99)  # stamped again, wrongly
    s.save_to_file(str(tmp_path / "a"), FMT.wcnf, None)
    assert header(tmp_path / "a")[0] == ["wcnf", "7", "3", "11"]
    # a larger stamp is kept: variables without clauses, a caller's higher top
    s.set_variable_count(20)
    s.set_weight_limit(100)
    s.save_to_file(str(tmp_path / "b"), FMT.wcnf, None)
    assert header(tmp_path / "b")[0] == ["wcnf", "20", "3", "100"]
    assert (s.get_variable_count(), s.get_clause_count(), s.get_weight_limit()) == (20, 99, 100)


@settings(max_examples=40)
@given(st.lists(entries, min_size=1, max_size=5))
def test_merge_equals_concatenation(parts):
    storages = [fill(p) for p in parts]
    target = storages[0]
    for other in storages[1:]:
        target.merge(other)
        assert other.get_clauses() == [] and other.get_soft_clause_count() == 0
    flat = [e for p in parts for e in p]
    assert target.get_clauses() == [c for c, _ in flat]
    assert target.get_clause_weights() == [w for _, w in flat]
    assert target.get_soft_clause_count() == sum(1 for _, w in flat if w)


def test_merge_moves_clauses_in_order():
    a = fill([([1, 2], 0), ([3], 5)])
    b = fill([([-4], 0), ([5, -6], 7), ([], 0)])
    b.insert_prefatory_value(-4)
    c = fill([([8], 2)])
    a.merge(b)
    a.merge(c)
    assert a.get_clauses() == [[1, 2], [3], [-4], [5, -6], [], [8]]
    assert a.get_clause_weights() == [0, 5, 0, 7, 0, 2]
    assert (a.get_hard_clause_count(), a.get_soft_clause_count()) == (3, 3)
    assert a.get_prefatory_values() == [-4]
    assert b.get_clauses() == [] and b.get_prefatory_values() == []
    # into an empty storage, and a hard-only storage after a soft one
    e = tl.wcnf_storage()
    e.merge(a)
    e.merge(fill([([9], 0)]))
    assert e.get_clause_weights() == [0, 5, 0, 7, 0, 2, 0]
    with pytest.raises(ValueError, match="itself"):
        e.merge(e)
    with pytest.raises(TypeError):
        e.merge([1])


@settings(max_examples=40)
@given(entries, st.lists(entries, min_size=1, max_size=3))
def test_roll_back_drops_what_merges_appended_since_the_mark(first, later):
    s = fill(first)
    s.set_variable_count(50)
    before = (s.get_clauses(), s.get_clause_weights(), s.get_soft_clause_count(), s.get_variable_count())
    top = s.get_weight_limit()
    mark = s._mark()
    for part in later:
        s.merge(fill(part))
    s.set_variable_count(60)
    s.insert_prefatory_value(3)
    s._roll_back(mark)
    assert (s.get_clauses(), s.get_clause_weights(), s.get_soft_clause_count(), s.get_variable_count()) == before
    assert s.get_weight_limit() == top and s.get_prefatory_values() == []
    # What it holds after the roll-back merges as if nothing had come between.
    s.merge(fill(later[0]))
    assert s.get_clauses() == before[0] + [c for c, _ in later[0]]


def test_roll_back_refuses_a_mark_it_cannot_go_back_to():
    s, other = fill([([1], 0), ([2], 0)]), fill([([1], 0)])
    mark, foreign = s._mark(), fill([([1], 0), ([2], 0), ([3], 0)])._mark()
    target = fill([([4], 0)])
    s.merge_target(target)
    with pytest.raises(ValueError, match="a target was merged since its mark"):
        s._roll_back(mark)
    with pytest.raises(ValueError, match="the mark is not one of its past"):
        other._roll_back(foreign)
    assert s.get_clauses() == [[1], [2], [4]] and other.get_clauses() == [[1]]


hard_entries = st.lists(clauses.map(lambda c: (c, 0)), max_size=6)


@settings(max_examples=60)
@given(st.lists(st.tuples(st.booleans(), entries | hard_entries), min_size=1, max_size=6))
def test_target_segment_is_replaced_in_place(tmp_path_factory, steps):
    # Each step merges either ordinary clauses or a new target (hard clauses only); the storage
    # must equal one that holds the last target in the first target's place.
    s = tl.wcnf_storage()
    s.insert_prefatory_value(3)
    before, target, after, placed = [], [], [], False
    for is_target, part in steps:
        if is_target:
            part = [(c, 0) for c, _ in part]
            s.merge_target(fill(part))
            target, placed = part, True
        else:
            s.merge(fill(part))
            (after if placed else before).extend(part)
    flat = before + target + after
    assert s.get_clauses() == [c for c, _ in flat]
    assert s.get_clause_weights() == [w for _, w in flat]
    assert s.get_target_clause_count() == len(target)
    assert s.get_prefatory_values() == [3]
    path = tmp_path_factory.mktemp("target") / "f.wcnf"
    s.save_to_file(str(path), FMT.wcnf, None)
    # the header counts the variables of the clauses now held, not of replaced ones
    assert int(header(path)[0][1]) == max((abs(l) for c, _ in flat for l in c), default=0)


def test_target_segment_refusals():
    s = fill([([1], 0)])
    s.merge_target(fill([([2], 0)]))
    with pytest.raises(ValueError, match="hard"):
        s.merge_target(fill([([3], 4)]))
    with pytest.raises(ValueError, match="itself"):
        s.merge_target(s)
    assert s.get_clauses() == [[1], [2]] and s.get_target_clause_count() == 1


@pytest.mark.parametrize(
    "bad, error, text",
    [
        ([1, 0], ValueError, "literal 0"),
        ([True], TypeError, "bool"),
        ([1.0], TypeError, "float"),
        (["1"], TypeError, "str"),
        ([2**31], ValueError, "out of range"),
        ([-(2**31)], ValueError, "out of range"),
        ([2**70], ValueError, "out of range"),
        ("12", TypeError, "list of integers"),
        (5, TypeError, "list of integers"),
        (None, TypeError, "list of integers"),
    ],
)
def test_bad_literals_refused(bad, error, text):
    s = tl.wcnf_storage()
    s.add_hard_clause([1])
    with pytest.raises(error, match=text):
        s.add_hard_clause(bad)
    with pytest.raises(error, match=text):
        s.add_soft_clause(bad, 1)
    assert s.get_clauses() == [[1]]  # nothing of a refused clause is stored


@pytest.mark.parametrize(
    "weight, error", [(0, ValueError), (-3, ValueError), (1.5, TypeError), (True, TypeError)]
)
def test_bad_weights_refused(weight, error):
    s = tl.wcnf_storage()
    with pytest.raises(error):
        s.add_soft_clause([1], weight)
    assert s.get_clauses() == []


def test_top_overflow_refused():
    s = tl.wcnf_storage()
    s.add_soft_clause([1], 2**62)
    with pytest.raises(OverflowError, match=f"would exceed {2**63 - 2},"):
        s.add_soft_clause([2], 2**62)
    t = tl.wcnf_storage()
    t.add_soft_clause([3], 2**62)
    with pytest.raises(OverflowError):
        s.merge(t)
    assert s.get_clauses() == [[1]] and t.get_clauses() == [[3]]


def test_other_clause_forms_accepted():
    s = tl.wcnf_storage()
    s.add_hard_clause((1, -2))
    s.add_hard_clause(np.array([3, -4], dtype=np.int64))
    s.add_hard_clause([np.int32(5), np.int8(-6)])
    s.add_hard_clause(range(1, 40))  # longer than the inline buffer
    s.add_soft_clause((x for x in [7]), 2)  # any iterable
    assert s.get_clauses()[:3] == [[1, -2], [3, -4], [5, -6]]
    assert s.get_clauses()[3] == list(range(1, 40))


def test_clause_changed_while_read_is_safe():
    class Sneaky:
        def __init__(self, clause):
            self.clause = clause

        def __index__(self):
            self.clause.clear()  # would leave a reader of the list with freed items
            return 5

    clause = [1, 2]
    clause.append(Sneaky(clause))
    clause += [3] * 40
    s = tl.wcnf_storage()
    s.add_hard_clause(clause)
    assert s.get_clauses() == [[1, 2, 5] + [3] * 40]

    def failing():
        yield 1
        raise KeyError("from the iterable")

    with pytest.raises(KeyError):
        s.add_hard_clause(failing())


def test_mapping_and_prefatory_comments(tmp_path):
    s = tl.wcnf_storage()
    s.set_model_name("queens 8")
    s.add_hard_clause([1, -5])
    s.insert_prefatory_value(3)
    s.insert_prefatory_value(-1)
    m = tl.var_mapping()
    m.set_var_map({"dummy_var[0]": 0, "x[0,1]": 1, "_bxpr_aux[0,0,0]": 5, "_pbct_aux[1,0,2]": 4})
    m.build_inverse_map()
    s.save_to_file(str(tmp_path / "f.cnf"), FMT.cnf, m)
    _, comments = header(tmp_path / "f.cnf")
    assert comments == [
        "c model: queens 8", "c dummy_var[0] 0", "c x[0,1] 1", "c prefatory: 3 -1"
    ]
    # prefatory values change neither the clauses nor the counts
    assert CNF(from_file=str(tmp_path / "f.cnf")).clauses == [[1, -5]]
    assert header(tmp_path / "f.cnf")[0] == ["cnf", "5", "1"]
    s.save_to_file(str(tmp_path / "d.cnf"), FMT.cnf, {"y[2]": 9})  # a plain dict also works
    assert header(tmp_path / "d.cnf")[1][1] == "c y[2] 9"


@pytest.mark.parametrize("length", [2**20 - len("c model: \n") - len("p cnf "), 2**21])
def test_a_number_just_after_a_text_that_fills_the_write_buffer(tmp_path, length):
    # The model name fills the 1 MiB buffer up to the header's numbers: they go to the file
    # whole, never past the buffer's end. A name longer than the buffer goes to the file itself.
    name = "m" * length
    s = fill([([1], 0)])
    s.set_model_name(name)
    s.save_to_file(str(tmp_path / "f.cnf"), FMT.cnf, None)
    assert (tmp_path / "f.cnf").read_text() == f"c model: {name}\np cnf 1 1\n1 0\n"


@pytest.mark.parametrize(
    "mapping, error",
    [({"x[0]\n1 2 0": 1}, ValueError), ({1: 2}, TypeError), ({"x[0]": "1"}, TypeError),
     ([("x[0]", 1)], TypeError), ("uninitialised", TypeError)],
)
def test_bad_mapping_writes_nothing(tmp_path, mapping, error):
    s = fill([([1], 0)])
    if mapping == "uninitialised":
        mapping = tl.var_mapping.__new__(tl.var_mapping)
    with pytest.raises(error):
        s.save_to_file(str(tmp_path / "f.cnf"), FMT.cnf, mapping)
    assert os.listdir(tmp_path) == []


@pytest.mark.parametrize("end", ["\r", "\n", "\x0b", "\x0c", "\x1c", "\x1d", "\x1e", "\x85", "\u2028", "\u2029", "\0"])
def test_line_ends_in_comment_texts_are_refused(tmp_path, end):
    s = fill([([1], 0)])
    s.set_model_name("m" + end + "p cnf 9 9")
    shown = "\\x00" if end == "\0" else end  # the refused text is named, a NUL spelt out
    with pytest.raises(ValueError, match=re.escape(f"model name 'm{shown}p cnf 9 9'")):
        s.save_to_file(str(tmp_path / "f.cnf"), FMT.cnf, None)
    s.set_model_name("m")
    with pytest.raises(ValueError, match="mapping key"):
        s.save_to_file(str(tmp_path / "f.cnf"), FMT.cnf, {"x[0]" + end + "1 0": 1})
    assert os.listdir(tmp_path) == []
    # characters whose UTF-8 merely holds the byte of NEL are no line end
    s.set_model_name("\u00c5\u2026")
    s.save_to_file(str(tmp_path / "f.cnf"), FMT.cnf, {"\u0145[0]": 1})
    assert header(tmp_path / "f.cnf")[1] == ["c model: \u00c5\u2026", "c \u0145[0] 1"]


def test_failed_write_leaves_no_file(tmp_path):
    s = fill([([1, 2], 0), ([3], 4)])
    with pytest.raises(FileNotFoundError) as info:
        s.save_to_file(str(tmp_path / "missing" / "f.wcnf"), FMT.wcnf, None)
    assert info.value.filename == str(tmp_path / "missing" / "f.wcnf")
    with pytest.raises(ValueError, match="soft"):
        s.save_to_file(str(tmp_path / "f.cnf"), FMT.cnf, None)
    (tmp_path / "dir").mkdir()
    with pytest.raises(OSError):
        s.save_to_file(str(tmp_path / "dir"), FMT.wcnf, None)
    assert sorted(os.listdir(tmp_path)) == ["dir"]
    assert os.listdir(tmp_path / "dir") == []
    if os.path.isfile("/proc/self/status"):
        # A file that exists, in a directory that takes no new file: not "not found".
        with pytest.raises(OSError, match="cannot be replaced: no new file can be made beside it") as info:
            s.save_to_file("/proc/self/status", FMT.wcnf, None)
        assert (type(info.value), info.value.errno, info.value.filename) == (OSError, errno.ENOENT, "/proc/self/status")


def test_write_failing_midway_leaves_no_file(tmp_path):
    # A file-size limit makes write() fail partway through, as a full disk would.
    script = f"""
import resource, signal, orbeny.trelle as tl
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))
s = tl.wcnf_storage()
for i in range(1, 300000):
    s.add_hard_clause([i, -i - 1, i + 2])
try:
    s.save_to_file({str(tmp_path / "big.cnf")!r}, tl.input_sat_format.cnf)
except OSError as e:
    print(e.errno, e.filename)
"""
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert out.stdout.split() == [str(errno.EFBIG), str(tmp_path / "big.cnf")], out.stderr
    assert os.listdir(tmp_path) == []


def test_a_read_of_every_clause_that_runs_out_of_memory_says_what_it_needed():
    script = """
import resource, orbeny.trelle as tl
s = tl.wcnf_storage()
for i in range(1, 400001):
    s.add_hard_clause([i, -i - 1])
held = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
resource.setrlimit(resource.RLIMIT_AS, (held + (16 << 20), hard))
try:
    s.get_clauses()
except MemoryError as error:
    print(error)
resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
print(len(s.get_clauses()))
"""
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    # 400,000 lists of two, and 799,740 ints outside -5..256
    assert re.fullmatch(r"get_clauses ran out of memory reading 400000 clauses of 800000 literals, which take at least"
                        r" 57591736 bytes \(54.9 MiB\) as lists, with the [0-9]+ bytes .* that this process can still"
                        r" get .* once the read let its memory go\n400000\n", out.stdout), out.stderr


def test_a_merge_that_runs_out_of_memory_leaves_both_storages_as_they_were():
    # The clause ends fill their capacity, so the merge fails after the literals are moved.
    script = """
import resource, orbeny.trelle as tl
a, b = tl.wcnf_storage(), tl.wcnf_storage()
for _ in range((1 << 20) - 1):
    a.add_hard_clause([1])
b.add_hard_clause([2])
held = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
resource.setrlimit(resource.RLIMIT_AS, (held + (4 << 20), hard))
try:
    a.merge(b)
except MemoryError:
    print("refused")
resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
a.add_hard_clause([3])
print(a.get_clauses()[-2:], b.get_clauses())
"""
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert out.stdout == "refused\n[[1], [3]] [[2]]\n", out.stderr


def files_open_in(folder, pid="self"):
    """What the descriptors of a process name inside `folder`."""
    found = []
    for fd in os.listdir(f"/proc/{pid}/fd"):
        try:
            found.append(os.readlink(f"/proc/{pid}/fd/{fd}"))
        except OSError:
            pass  # closed meanwhile
    return [name for name in found if name.startswith(str(folder) + os.sep)]


def test_overwrites_existing_file(tmp_path):
    path = tmp_path / "f.cnf"
    path.write_text("old contents that are longer than the new file\n" * 10)
    # a hidden sibling of the same name is the user's, not a temporary file in the way
    (tmp_path / ".f.cnf").write_text("mine\n")
    fill([([1], 0)]).save_to_file(str(path), FMT.cnf, None)
    assert path.read_text() == "p cnf 1 1\n1 0\n"
    assert (tmp_path / ".f.cnf").read_text() == "mine\n"
    assert sorted(os.listdir(tmp_path)) == [".f.cnf", "f.cnf"]
    # a replaced file's space is given back, the large one's a moment later
    large = fill([(list(range(1, 1_500_001)), 0)])
    for storage in (large, large, fill([([1], 0)]), fill([([1], 0)])):
        storage.save_to_file(str(path), FMT.cnf, None)
    deadline = time.monotonic() + 10
    while files_open_in(tmp_path) and time.monotonic() < deadline:
        time.sleep(0.01)
    assert files_open_in(tmp_path) == [] and path.read_text() == "p cnf 1 1\n1 0\n"


def test_save_through_links_keeps_mode_and_owner(tmp_path):
    real = tmp_path / "real.cnf"
    real.write_text("old\n")
    os.chmod(real, 0o640)
    owner = (os.getuid() + 1, os.getgid() + 1) if os.geteuid() == 0 else (os.getuid(), os.getgid())
    os.chown(real, *owner)
    (tmp_path / "hop").symlink_to("real.cnf")
    (tmp_path / "link").symlink_to(tmp_path / "hop")
    (tmp_path / "dangling").symlink_to("new.cnf")
    long_name = "n" * 250  # a legal name whose temporary sibling must still be legal
    for name in ("link", "dangling", long_name):
        fill([([1], 0)]).save_to_file(str(tmp_path / name), FMT.cnf, None)
    assert (tmp_path / "link").is_symlink() and (tmp_path / "dangling").is_symlink()
    for name in ("real.cnf", "new.cnf", long_name):
        assert (tmp_path / name).read_text() == "p cnf 1 1\n1 0\n"
    info = real.stat()
    assert (info.st_mode & 0o7777, info.st_uid, info.st_gid) == (0o640, *owner)
    assert sorted(os.listdir(tmp_path)) == sorted(["real.cnf", "hop", "link", "dangling", "new.cnf", long_name])


# Run first in a child: refuse(*ops) has the kernel refuse the calls that the filter ops pick.
SYSCALL_FILTER = """
import ctypes, errno, os, struct
def op(code, k, jt=0, jf=0):
    return struct.pack("HBBI", code, jt, jf, k)
class Program(ctypes.Structure):
    _fields_ = [("len", ctypes.c_ushort), ("filter", ctypes.c_char_p)]
def refuse(*ops):
    program = b"".join(ops)
    libc = ctypes.CDLL(None, use_errno=True)
    assert libc.prctl(38, 1, 0, 0, 0) == 0  # no new privileges
    assert libc.prctl(22, 2, ctypes.byref(Program(len(program) // 8, program))) == 0
"""
# Files without a name refused, as some file systems do.
REFUSE_UNNAMED_FILES = SYSCALL_FILTER + """
refuse(
    op(0x20, 4), op(0x15, 0xC000003E, 0, 5),  # x86_64 only
    op(0x20, 0), op(0x15, 257, 0, 3),  # openat
    op(0x20, 32), op(0x45, 0o20000000, 0, 1),  # flags hold O_TMPFILE
    op(0x06, 0x00050000 | errno.EOPNOTSUPP), op(0x06, 0x7FFF0000),
)
try:
    os.close(os.open(".", os.O_TMPFILE | os.O_WRONLY))
    raise AssertionError("files without a name are still made")
except OSError as e:
    assert e.errno == errno.EOPNOTSUPP
"""
# A file's owner kept from changing, as it is for a user.
REFUSE_CHOWN = SYSCALL_FILTER + """
refuse(
    op(0x20, 4), op(0x15, 0xC000003E, 0, 3),  # x86_64 only
    op(0x20, 0), op(0x15, 93, 0, 1),  # fchown
    op(0x06, 0x00050000 | errno.EPERM), op(0x06, 0x7FFF0000),
)
"""


# over 64 bytes with byte 64 inside a character: a temporary name must cut before it
LONG_NAME = "n" * 63 + "\u00e9" * 40
# a legal name that is no UTF-8 at all, nothing but bytes that continue a character
STRAY_NAME = os.fsdecode(b"\x80" * 100)
ROADS = pytest.mark.parametrize("unnamed", [True, False], ids=["unnamed", "named"])


def saving_child(tmp_path, unnamed, body):
    if not unnamed and platform.machine() != "x86_64":
        pytest.skip("the filter that refuses files without a name is written for x86_64")
    return ("" if unnamed else REFUSE_UNNAMED_FILES) + f"""
import os, orbeny.trelle as tl
os.chdir({str(tmp_path)!r})
""" + body


@ROADS
def test_killed_save_leaves_nothing_behind(tmp_path, unnamed):
    script = saving_child(tmp_path, unnamed, f"""
s = tl.wcnf_storage()
for i in range(1, 300000):
    s.add_hard_clause([i, -i - 1, i + 2])
while True:
    s.save_to_file({LONG_NAME!r}, tl.input_sat_format.cnf)
""")

    for _ in range(3):
        child = subprocess.Popen([sys.executable, "-c", script])
        try:
            deadline = time.monotonic() + 60
            while not files_open_in(tmp_path, child.pid):
                assert child.poll() is None, f"the saving child ended with code {child.returncode}"
                assert time.monotonic() < deadline, "the saving child opened no file in a minute"
        finally:
            child.kill()
            child.wait(10)
    left = set(os.listdir(tmp_path)) - {LONG_NAME}
    if unnamed:
        assert not left
    else:  # where files must have names, a killed save leaves its temporary file
        assert left and all(re.fullmatch(r"\.n{63}\.[0-9a-f]{8}\.tmp", name) for name in left), left


@ROADS
def test_temporary_file_roads_keep_modes_and_take_long_names(tmp_path, unnamed):
    (tmp_path / "real.cnf").write_text("old\n")
    os.chmod(tmp_path / "real.cnf", 0o640)
    script = saving_child(tmp_path, unnamed, f"""
os.close(0)  # a process without standard input saves alike
os.umask(0o002)
s = tl.wcnf_storage()
s.add_hard_clause([1])
for name in ("real.cnf", "new.cnf", {LONG_NAME!r}, {STRAY_NAME!r}):
    s.save_to_file(name, tl.input_sat_format.cnf)
assert not os.path.lexists("/proc/self/fd/0"), "the replaced file is held open"
""")
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    for name, mode in (("real.cnf", 0o640), ("new.cnf", 0o664), (LONG_NAME, 0o664), (STRAY_NAME, 0o664)):
        assert (tmp_path / name).read_text() == "p cnf 1 1\n1 0\n"
        assert (tmp_path / name).stat().st_mode & 0o7777 == mode
    assert sorted(os.listdir(tmp_path)) == sorted(["real.cnf", "new.cnf", LONG_NAME, STRAY_NAME])


@ROADS
def test_a_save_refused_for_the_owner_leaves_no_descriptor_or_file(tmp_path, unnamed):
    if os.geteuid() != 0 or platform.machine() != "x86_64":
        pytest.skip("needs a file of another owner, and the filter written for x86_64")
    (tmp_path / "real.cnf").write_text("old\n")
    os.chown(tmp_path / "real.cnf", 1, 1)
    script = saving_child(tmp_path, unnamed, REFUSE_CHOWN + """
s = tl.wcnf_storage()
held = len(os.listdir("/proc/self/fd"))
for _ in range(3):
    try:
        s.save_to_file("real.cnf", tl.input_sat_format.cnf)
        raise AssertionError("the owner was changed")
    except PermissionError:
        pass
assert len(os.listdir("/proc/self/fd")) == held, "a refused save left a descriptor open"
""")
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    assert os.listdir(tmp_path) == ["real.cnf"] and (tmp_path / "real.cnf").read_text() == "old\n"


def test_fifos_and_devices_are_written_in_place_and_other_files_refused(tmp_path):
    import socket
    import stat

    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    # A reader of its own process, which a deadline can end wherever it waits.
    reader = subprocess.Popen(["cat", str(fifo)], stdout=subprocess.PIPE)
    try:
        fill([([1], 0)]).save_to_file(str(fifo), FMT.cnf, None)
        read = reader.communicate(timeout=10)[0]
    except subprocess.TimeoutExpired:
        pytest.fail("the FIFO's reader never saw the end of what was saved into it")
    finally:
        reader.kill()
        reader.wait(10)
    assert read == b"p cnf 1 1\n1 0\n" and stat.S_ISFIFO(os.stat(fifo).st_mode)
    fill([([1], 0)]).save_to_file("/dev/null", FMT.cnf, None)
    assert stat.S_ISCHR(os.stat("/dev/null").st_mode)
    with socket.socket(socket.AF_UNIX) as sock:
        sock.bind(str(tmp_path / "sock"))
        with pytest.raises(ValueError, match="neither a regular file, a FIFO nor a character device"):
            fill([([1], 0)]).save_to_file(str(tmp_path / "sock"), FMT.cnf, None)
    assert sorted(os.listdir(tmp_path)) == ["fifo", "sock"]


def test_a_save_after_one_stopped_waiting_for_a_fifo_ends(tmp_path):
    # Ctrl-C ends the wait for a reader inside a system call and leaves errno at EINTR: the next
    # save, over a file, must not take that for a failure of its own and retry it forever.
    script = f"""
import os, signal, orbeny.trelle as tl
os.chdir({str(tmp_path)!r})
os.mkfifo("fifo")
signal.signal(signal.SIGALRM, signal.default_int_handler)
s = tl.wcnf_storage()
s.add_hard_clause([1])
for _ in range(3):
    with open("f.cnf", "w") as old:
        old.write("old\\n")
    signal.setitimer(signal.ITIMER_REAL, 0.02)
    try:
        s.save_to_file("fifo", tl.input_sat_format.cnf)
    except KeyboardInterrupt:
        pass
    s.save_to_file("f.cnf", tl.input_sat_format.cnf)
"""
    try:
        subprocess.run([sys.executable, "-c", script], check=True, timeout=20)
    except subprocess.TimeoutExpired:
        pytest.fail("a save over a file after one stopped waiting for a FIFO never ended")
    assert (tmp_path / "f.cnf").read_text() == "p cnf 1 1\n1 0\n"


def test_a_device_that_cannot_be_opened_is_refused_at_once():
    # The terminal of a process that has none: opening it fails, and that is no reason to retry.
    script = """
import orbeny.trelle as tl
s = tl.wcnf_storage()
s.add_hard_clause([1])
try:
    s.save_to_file("/dev/tty", tl.input_sat_format.cnf)
except OSError as e:
    print(e.errno, e.filename)
"""
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=30,
                         start_new_session=True)
    assert out.stdout.split() == [str(errno.ENXIO), "/dev/tty"], out.stderr


def test_ctrl_c_from_a_terminal_stops_a_save_into_a_fifo_that_is_not_read(tmp_path):
    # SIGINT comes from another process, as a terminal's does, while the save waits first for a
    # reader that never comes and then for one that never reads, with the pipe full.
    import select

    script = f"""
import os, orbeny.trelle as tl
fifo = {str(tmp_path / "fifo")!r}
os.mkfifo(fifo)
s = tl.wcnf_storage()
for i in range(1, 200000):
    s.add_hard_clause([i, -i - 1, i + 2])
for stalled in ("open", "write"):
    if stalled == "write":
        reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    try:  # a signal that a loaded machine delivers early is still the test's own
        print("saving", flush=True)
        s.save_to_file(fifo, tl.input_sat_format.cnf)
    except KeyboardInterrupt:
        print("stopped", flush=True)
"""
    child = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE)
    pending = [b""]

    def line(seconds, awaited):
        deadline = time.monotonic() + seconds
        while b"\n" not in pending[0]:
            left = deadline - time.monotonic()
            assert left > 0 and select.select([child.stdout], [], [], left)[0], f"{awaited}: no line in time"
            more = os.read(child.stdout.fileno(), 100)
            assert more, f"{awaited}: the child ended with code {child.wait(10)}"
            pending[0] += more
        first, pending[0] = pending[0].split(b"\n", 1)
        return first.decode()

    try:
        for stalled in ("open", "write"):
            assert line(60, f"a save that stalls at {stalled}") == "saving"
            time.sleep(0.2)  # waiting by now: a pipe holds far less than the file
            child.send_signal(signal.SIGINT)
            # Milliseconds when the machine is idle; a stalled save never answers at all.
            assert line(10, f"Ctrl-C stopping a save stalled at {stalled}") == "stopped"
        assert child.wait(10) == 0
    finally:
        child.kill()
        child.wait(10)
    assert os.listdir(tmp_path) == ["fifo"]


def test_descriptor_0_is_a_file_like_any_other(tmp_path):
    # With stdin closed, the FIFO and then the temporary file open as descriptor 0: the FIFO is
    # still written in place, and the file is renamed into place with nothing left beside it.
    script = f"""
import os, stat, orbeny.trelle as tl
fifo = {str(tmp_path / "fifo")!r}
os.mkfifo(fifo)
reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
os.close(0)
s = tl.wcnf_storage()
s.add_hard_clause([1])
s.save_to_file(fifo, tl.input_sat_format.cnf)
s.save_to_file({str(tmp_path / "f.cnf")!r}, tl.input_sat_format.cnf)
print(os.read(reader, 100), stat.S_ISFIFO(os.stat(fifo).st_mode))
"""
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert out.stdout == "b'p cnf 1 1\\n1 0\\n' True\n", out.stderr
    assert sorted(os.listdir(tmp_path)) == ["f.cnf", "fifo"]
    assert (tmp_path / "f.cnf").read_text() == "p cnf 1 1\n1 0\n"


def test_interrupt_while_writing_leaves_the_old_file(tmp_path):
    path = tmp_path / "f.cnf"
    path.write_text("old\n")
    s = tl.wcnf_storage()
    for i in range(1, 1_500_000):
        s.add_hard_clause([i, -i - 1, i + 2])

    def written():
        total = 0
        for fd in os.listdir("/proc/self/fd"):
            try:
                if os.readlink(f"/proc/self/fd/{fd}").startswith(str(tmp_path) + os.sep):
                    total += os.stat(f"/proc/self/fd/{fd}").st_size
            except OSError:
                pass  # closed meanwhile, by the thread that frees a stopped file's blocks
        return total

    # The first stop comes long before the file could be complete; the second once it holds
    # more than a small file, whose blocks are given back on another thread. A read of every
    # clause stopped is stopped too, not taken for a want of memory.
    def save():
        s.save_to_file(str(path), FMT.cnf, None)

    for enough, call in ((0, save), (16 << 20, save), (0, s.get_clauses)):
        def interrupt(*_):
            if written() >= enough:
                raise KeyboardInterrupt
            # One alarm at a time, the next set only now: none can land while this one runs,
            # nor, once it has stopped the save, in the test after it.
            signal.setitimer(signal.ITIMER_REAL, 0.001)

        previous = signal.signal(signal.SIGALRM, interrupt)
        gc.disable()  # a collection's callbacks, the test tools', would swallow the interrupt
        try:
            with pytest.raises(KeyboardInterrupt):
                signal.setitimer(signal.ITIMER_REAL, 0.001)
                call()
        finally:
            gc.enable()
            signal.setitimer(signal.ITIMER_REAL, 0)
            signal.signal(signal.SIGALRM, previous)
        assert path.read_text() == "old\n"
        assert os.listdir(tmp_path) == ["f.cnf"]
    deadline = time.monotonic() + 10
    while files_open_in(tmp_path) and time.monotonic() < deadline:
        time.sleep(0.01)
    assert files_open_in(tmp_path) == []


def test_empty_storage_is_true_and_writes_a_header(tmp_path):
    s = tl.wcnf_storage()
    assert s  # the model tests the storage for truth before saving
    s.save_to_file(str(tmp_path / "e.wcnf"), FMT.wcnf)
    assert (tmp_path / "e.wcnf").read_text() == "p wcnf 0 0 1\n"


def test_stamps_refuse_negative_values():
    s = tl.wcnf_storage()
    for setter in (s.set_variable_count, s.set_clause_count, s.set_weight_limit):
        for value in (-1, -(2**64)):  # past 64 bits as within them
            with pytest.raises(ValueError, match=f"^[a-z ]+ must not be negative, got {value}$"):
                setter(value)
    past = "is out of range: variable numbers go up to 2147483647$"
    for value in (2**31, 2**63):
        with pytest.raises(ValueError, match=f"^variable count {value} {past}"):
            s.set_variable_count(value)
    for value in (2**63, -(2**64)):
        with pytest.raises(ValueError, match=f"^literal {value} {past}"):
            s.insert_prefatory_value(value)
    for setter, what in ((s.set_clause_count, "clause count"), (s.set_weight_limit, "weight limit")):
        with pytest.raises(ValueError, match=f"^{what} {2**63} is out of range$"):
            setter(2**63)
    with pytest.raises(ValueError, match="literal 0"):
        s.insert_prefatory_value(0)
