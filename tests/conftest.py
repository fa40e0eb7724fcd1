import os

import pytest
from hypothesis import HealthCheck, settings

# CI runs are reproducible: hypothesis draws the same cases every time.
settings.register_profile(
    "ci", derandomize=True, deadline=None, suppress_health_check=[HealthCheck.too_slow]
)
settings.register_profile("dev", deadline=None)
settings.load_profile("ci" if os.environ.get("CI") else "dev")


@pytest.fixture
def memory_capped():
    """This process's address space held to 24 GiB for one test: work refused for taking more
    memory than the process can still get (the lower of the room under that limit and the memory
    available) is then refused alike on a machine of any size, and never allocated."""
    import resource

    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    cap = 24 << 30
    if (soft == resource.RLIM_INFINITY or soft > cap) and (hard == resource.RLIM_INFINITY or hard >= cap):
        resource.setrlimit(resource.RLIMIT_AS, (cap, hard))
    try:
        yield
    finally:
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))


@pytest.fixture
def needs_memory():
    """Skips a test whose work is meant to pass the memory check but be refused for something
    else, where this process can get less memory than that work plans."""

    def check(nbytes):
        from orbeny.trelle import _engine

        limit = _engine.inst.memory_limit()[0]
        if limit < nbytes:
            pytest.skip(f"plans {nbytes >> 30} GiB; this process can get {limit >> 30} GiB")

    return check


@pytest.fixture
def small_stack():
    """Runs a script's main() in a child process, in a thread of 256 KiB of stack, and gives what it
    printed: native recursion that grows with the input crashes the child, which fails the test."""
    import subprocess
    import sys
    import textwrap

    def run(script):
        code = textwrap.dedent(script) + textwrap.dedent("""
            import sys
            import threading

            failed = []

            def guarded():
                try:
                    main()
                except BaseException as error:
                    failed.append(error)
                    raise

            threading.stack_size(256 << 10)
            thread = threading.Thread(target=guarded)
            thread.start()
            thread.join()
            sys.exit(1 if failed else 0)
            """)
        out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
        assert out.returncode == 0, (out.returncode, out.stderr[-3000:])
        return out.stdout

    return run
