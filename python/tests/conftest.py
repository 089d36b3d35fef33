"""What the package's suites share: the host profile they run on, the
simulator's test controls, the daemons' records.

The suites run inside a hyxsim sandbox (see CMakeLists.txt beside this
file); HYX_TEST_PROFILE names the example host, as for the C suites.
"""

from __future__ import annotations

import ctypes
import json
import os
import re
import select
import time
from pathlib import Path
from typing import Any

import pytest

SOURCE = Path(__file__).resolve().parents[2]
HOSTS = SOURCE / "examples" / "hosts"


def _merge(base: Any, over: Any) -> Any:
    if isinstance(base, dict) and isinstance(over, dict):
        merged = dict(base)
        for key, value in over.items():
            if value is None:
                merged.pop(key, None)
            else:
                merged[key] = _merge(base.get(key), value)
        return merged
    return over


def load_profile(name: str) -> dict[str, Any]:
    path = HOSTS / f"{name}.json"
    document = json.loads(path.read_text())
    if "base" in document:
        base = json.loads((path.parent / document["base"]).read_text())
        document = _merge(base, document)
    return document


PROFILE_NAME = os.environ.get("HYX_TEST_PROFILE", "hypervisor")
PROFILE = load_profile(PROFILE_NAME)


KERNEL = PROFILE.get("kernel", {})
# A host that is not the Hyxkernel at all (every kernel call is refused).
ON_LINUX = KERNEL.get("type", "hyxkernel") != "hyxkernel"


def on_matching_hyxkernel() -> bool:
    """A Hyxkernel that accepts the library's interface (the gated calls answer)."""
    return not ON_LINUX and KERNEL.get("hsiNumbering") != "renumbered" and KERNEL.get("acceptsHsiSignature", True)


def hsi_value(node: str, instances: list[Any] | None = None) -> Any:
    """The value the profile gives an HSI node (and instance)."""
    entry = PROFILE["hsi"][node]
    if isinstance(entry, list):
        entry = next(e for e in entry if e["instances"] == instances)
    return entry.get("value", entry.get("bytes"))


def profile_bytes(text: str) -> bytes:
    assert text.startswith("hex:")
    return bytes.fromhex(text[4:])


def kernel_call(name: str) -> int:
    """A kernel call's number, from the one list the library is built with."""
    text = (SOURCE / "lib" / "hyxsysinfo" / "kernelCall.h").read_text()
    match = re.search(r"X\(" + re.escape(name) + r",\s*(\d+),", text)
    assert match, name
    return int(match.group(1))


class Sim:
    """The simulated kernel's test controls (libhyxsim.so, preloaded by hyxsim)."""

    def __init__(self) -> None:
        self._lib = ctypes.CDLL(None)
        self._lib.HyxSim_ScriptAnswer.argtypes = [
            ctypes.c_uint64, ctypes.c_uint32, ctypes.c_int32, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_uint]
        self._lib.HyxSim_PinMonotonicClock.argtypes = [ctypes.c_uint64]
        self._lib.HyxSim_AdvanceMonotonicClock.argtypes = [ctypes.c_uint64]
        self._lib.HyxSim_CallCount.argtypes = [ctypes.c_uint64]
        self._lib.HyxSim_CallCount.restype = ctypes.c_uint64
        self._lib.HyxSim_RescanCount.argtypes = [ctypes.c_char_p]
        self._lib.HyxSim_RescanCount.restype = ctypes.c_uint64
        self._lib.HyxSim_ChildGroup.argtypes = [
            ctypes.c_int32, ctypes.c_char_p, ctypes.c_size_t, ctypes.POINTER(ctypes.c_uint64)]

    def script(self, call: str, status: int, error: int = 0) -> None:
        self._lib.HyxSim_ScriptAnswer(kernel_call(call), status, error, None, 0, 0)

    def clear(self) -> None:
        self._lib.HyxSim_ClearHandlers()

    def pin_clock(self, ns: int) -> None:
        self._lib.HyxSim_PinMonotonicClock(ns)

    def advance_clock(self, ns: int) -> None:
        self._lib.HyxSim_AdvanceMonotonicClock(ns)

    def unpin_clock(self) -> None:
        self._lib.HyxSim_UnpinMonotonicClock()

    def call_count(self, call: str) -> int:
        return self._lib.HyxSim_CallCount(kernel_call(call))

    def rescan_count(self, adapter: str) -> int:
        return self._lib.HyxSim_RescanCount(adapter.encode())

    def child_group(self, pid: int) -> tuple[str, int] | None:
        group = ctypes.create_string_buffer(256)
        mem = ctypes.c_uint64()
        if not self._lib.HyxSim_ChildGroup(pid, group, len(group), ctypes.byref(mem)):
            return None
        return group.value.decode(), mem.value


@pytest.fixture
def sim() -> Any:
    controls = Sim()
    yield controls
    controls.clear()
    controls.unpin_clock()


def status(name: str) -> int:
    """A status code by its name, from the library's status table."""
    import hyxuser

    return hyxuser.status_code(name)


def records(path: str, count: int) -> list[dict[str, Any]]:
    """A daemon's records once it has written at least count of them (the
    daemons run beside the test), or what there is after 20 seconds."""
    deadline = time.time() + 20  # the test may have pinned the monotonic clock
    while True:
        try:
            text = Path(path).read_text()
        except FileNotFoundError:
            text = ""
        lines = [json.loads(line) for line in text.split("\n")[:-1] if line]
        if len(lines) >= count or time.time() > deadline:
            return lines
        # Not time.sleep: it waits for a monotonic deadline, and a test may
        # have pinned that clock far ahead.
        select.select([], [], [], 0.01)


hyxkernel_only = pytest.mark.skipif(not on_matching_hyxkernel(), reason="needs the example Hyxkernel host")
off_host_only = pytest.mark.skipif(on_matching_hyxkernel(), reason="needs a host that does not match")
linux_only = pytest.mark.skipif(not ON_LINUX, reason="needs a host that is not the Hyxkernel")
