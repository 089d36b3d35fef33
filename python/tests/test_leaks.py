"""Many calls of every family leave the process as they found it: no
descriptor and no block the library allocated stays behind, on success and
on failure alike.  Runs with the allocation counter preloaded beside the
library (CMakeLists.txt, LEAKS)."""

import ctypes
import os

import pytest

import hyxuser

GUID = "8be4df61-93ca-11d2-aa0d-00e098032b8c"
SECOND = 1_000_000_000
_process = ctypes.CDLL(None)
_count = _process.HyxAllocPreload_Count
_count.restype = ctypes.c_uint64
_outstanding = _process.HyxAllocPreload_Outstanding
_outstanding.restype = ctypes.c_int64


def _quiet(call):
    def run():
        try:
            call()
        except hyxuser.HyxError:
            pass

    return run


def _heartbeats():
    with hyxuser.heartbeats("/hxfs/volumes/datastore1") as reading:
        next(reading)
        reading.host(hyxuser.host_uuid())
    list(hyxuser.heartbeats("/hxfs/volumes/datastore2"))


def _throttled(sim, call):
    def run():
        sim.advance_clock(600 * SECOND)
        call()

    return run


FAMILIES = {
    "status": lambda: (hyxuser.status_text(0x2BAD0002), hyxuser.status_name(0x0BAD0003)),
    "version": lambda: (hyxuser.version(), hyxuser.system_version(), hyxuser.uptime()),
    "firmware": lambda: (hyxuser.acpi_table("APIC"), hyxuser.smbios()),
    "uefi": lambda: (hyxuser.uefi_variables(), hyxuser.uefi_get(f"BootOrder-{GUID}"),
                     hyxuser.uefi_set(f"Leak-{GUID}", b"x"), hyxuser.uefi_remove(f"Leak-{GUID}")),
    "uefi refused": _quiet(lambda: hyxuser.uefi_get(f"Missing-{GUID}")),
    "net": lambda: (hyxuser.pnics(), hyxuser.interfaces()),
    "storage": lambda: (hyxuser.active_device_uids("vmhba2"), hyxuser.device_paths(
        "naa.600a098038314d6a2b5d4f7a6c2f6b41"), hyxuser.adapter_at(2, 0, 0),
        hyxuser.device_vpd83("naa.600a098038314d6a2b5d4f7a6c2f6b41")),
    "storage refused": _quiet(lambda: hyxuser.device_paths("naa.none")),
    "vm": lambda: hyxuser.vm_for_world(526441),
    "nvdimm": lambda: hyxuser.nvdimm_capabilities(),
    "hxfs": _heartbeats,
    "hxfs refused": _quiet(lambda: hyxuser.heartbeats("/hxfs/volumes/shortregion")),
    "pam": lambda: hyxuser.pam_check("hyxuser", "hyx-secret", "hyxsim"),
    "pam refused": _quiet(lambda: hyxuser.pam_check("hyxuser", "wrong", "hyxsim-nodelay")),
    "system": lambda: hyxuser.system("true", resource_group="host/vim/tmp"),
    "fork_exec": lambda: hyxuser.wait(hyxuser.fork_exec("/bin/true", ["true"], env={"A": "b"})),
}


@pytest.fixture(scope="module", autouse=True)
def _pam_service_without_delay():
    # The sandbox's own /etc: a service whose refusals come without pam_unix's delay.
    with open("/etc/pam.d/hyxsim-nodelay", "w") as service:
        service.write("auth required pam_unix.so nodelay\naccount required pam_unix.so\n")


def _descriptors():
    return sorted(os.listdir("/proc/self/fd"))


def test_the_counter_sees_the_library():
    before = _count()
    hyxuser.uefi_variables()
    assert _count() > before


@pytest.mark.parametrize("family", list(FAMILIES) + ["notify", "trap", "event"])
def test_no_descriptor_or_allocation_stays_behind(family, sim):
    if family in ("trap", "event"):
        sim.pin_clock(1000 * SECOND)
    calls = dict(FAMILIES)
    calls["notify"] = lambda: hyxuser.notify(hyxuser.Severity.INFO, "leak", "kb.1", "text")
    # The spool names a trap file by the wall-clock second and the trap
    # number: each call gets its own number.
    numbers = iter(range(1, 1000))
    calls["trap"] = _throttled(sim, lambda: hyxuser.send_trap(f"1.3.6.1.4.1.1234.1.0.{next(numbers)}", [
        ("1.3.6.1.2.1.1.5.0", hyxuser.SnmpType.OCTET_STRING, "x")]))
    calls["event"] = _throttled(sim, lambda: hyxuser.post_event("hyx.Leak", args={"k": "v"}))
    call = calls[family]
    # The first calls may open what the library keeps for the process (the
    # observation socket, the management session, the NVDIMM device).
    for _ in range(3):
        call()
    descriptors, outstanding = _descriptors(), _outstanding()
    assert outstanding >= 0
    slow = ("event", "pam", "pam refused", "system", "fork_exec")
    for _ in range(10 if family in slow else 100):
        call()
    assert _descriptors() == descriptors
    assert _outstanding() == outstanding
