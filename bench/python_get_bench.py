"""One get through Python beside the same get from C.

Times, in one process and in alternate rounds, three ways of reading the
host's uptime from Python:

  bare ctypes, one buffer   the export called on a buffer made once: the
                            floor of any call through ctypes;
  ctypes as a script        what a script calling the export itself writes
                            per call: a fresh buffer, the call, its value;
  hyxuser.uptime()          the package: the same, its status checked and
                            the value turned into a timedelta.

It runs bench/get_from_c for the same get from C and prints the times and
the ratios.  Runs inside hyxsim on the example host, from the top of the
source tree:

    build/default/tools/hyxsim --bind $PWD/build/default -- env \\
      HYXUSER_LIBRARY=build/default/lib/libhyxuser.so PYTHONPATH=python \\
      python3 bench/python_get_bench.py build/default/bench/get_from_c
"""

from __future__ import annotations

import ctypes
import statistics
import subprocess
import sys
import time
from collections.abc import Callable

import hyxuser
from hyxuser import _native

CALLS = 20000
ROUNDS = 9


def one_round(call: Callable[[], object]) -> float:
    start = time.perf_counter_ns()
    for _ in range(CALLS):
        call()
    return (time.perf_counter_ns() - start) / CALLS


def per_call_ns(calls: list[Callable[[], object]]) -> list[float]:
    """Median ns per call of each, timed in alternate rounds so that a busy
    spell of the machine falls on all of them alike."""
    timed: list[list[float]] = [[] for _ in calls]
    for _ in range(ROUNDS):
        for call, times in zip(calls, timed):
            times.append(one_round(call))
    return [statistics.median(times) for times in timed]


def main() -> int:
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    get = _native.GetUptime
    value = ctypes.c_uint64()
    ref = ctypes.byref(value)

    def as_a_script() -> int:
        fresh = ctypes.c_uint64()
        get(ctypes.byref(fresh))
        return fresh.value

    bare, script, package = per_call_ns([lambda: get(ref), as_a_script, hyxuser.uptime])
    c = float(subprocess.run([sys.argv[1], str(CALLS), str(ROUNDS)], check=True, capture_output=True,
                             text=True).stdout)
    print(f"uptime get, ns per call (median of {ROUNDS} rounds of {CALLS}):")
    print(f"  C (HyxuserUptime_GetUptime)      {c:10.1f}")
    print(f"  Python, bare ctypes, one buffer   {bare:10.1f}")
    print(f"  Python, ctypes as a script        {script:10.1f}")
    print(f"  Python, hyxuser.uptime()          {package:10.1f}")
    print(f"ratio hyxuser.uptime() / C:         {package / c:.3f}")
    print(f"ratio ctypes as a script / C:       {script / c:.3f}")
    print(f"ratio bare ctypes / C:              {bare / c:.3f}")
    print(f"package's own share, ns:            {package - script:10.1f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
