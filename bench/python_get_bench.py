"""One get through Python beside the same get from C.

Times hyxuser.uptime() and, in the same process, the bare ctypes call of the
export it binds (ctypes' own cost, no package code); runs bench/get_from_c
for the same get from C; prints the times and the ratios.  Runs inside
hyxsim on the example host, from the top of the source tree:

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

import hyxuser
from hyxuser import _native

CALLS = 20000
ROUNDS = 5


def per_call_ns(call) -> float:
    rounds = []
    for _ in range(ROUNDS):
        start = time.perf_counter_ns()
        for _ in range(CALLS):
            call()
        rounds.append((time.perf_counter_ns() - start) / CALLS)
    return statistics.median(rounds)


def main() -> int:
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    value = ctypes.c_uint64()
    ref = ctypes.byref(value)
    get = _native.GetUptime
    package = per_call_ns(hyxuser.uptime)
    bare = per_call_ns(lambda: get(ref))
    c = float(subprocess.run([sys.argv[1], str(CALLS), str(ROUNDS)], check=True, capture_output=True,
                             text=True).stdout)
    print(f"uptime get, ns per call (median of {ROUNDS} rounds of {CALLS}):")
    print(f"  C (HyxuserUptime_GetUptime)      {c:10.1f}")
    print(f"  Python, bare ctypes call          {bare:10.1f}")
    print(f"  Python, hyxuser.uptime()          {package:10.1f}")
    print(f"ratio hyxuser.uptime() / C:         {package / c:.3f}")
    print(f"ratio bare ctypes / C:              {bare / c:.3f}")
    print(f"package's own share, ns:            {package - bare:10.1f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
