"""UEFI variables: list, get, set and remove on the profile's firmware."""

import pytest

import hyxuser
from conftest import PROFILE, hyxkernel_only, off_host_only, profile_bytes, status

GUID = "8be4df61-93ca-11d2-aa0d-00e098032b8c"


def _profile_variables():
    # Each value is the attributes (4 bytes, little-endian) and the contents.
    return {e["instances"][0]: profile_bytes(e["bytes"].replace(" ", "")) for e in PROFILE["hsi"]["uefi_variable"]}


@hyxkernel_only
def test_lists_and_reads_every_variable():
    variables = _profile_variables()
    assert hyxuser.uefi_variables() == list(variables)
    for name, raw in variables.items():
        assert hyxuser.uefi_get(name) == hyxuser.UefiVariable(int.from_bytes(raw[:4], "little"), raw[4:])


@hyxkernel_only
def test_set_read_back_and_remove():
    name = f"HyxPython-{GUID}"
    hyxuser.uefi_set(name, b"\x01\x02\x03", attributes=3)
    assert hyxuser.uefi_get(name) == hyxuser.UefiVariable(3, b"\x01\x02\x03")
    assert name in hyxuser.uefi_variables()
    hyxuser.uefi_remove(name)
    with pytest.raises(hyxuser.NotFound):
        hyxuser.uefi_get(name)
    assert name not in hyxuser.uefi_variables()


@hyxkernel_only
def test_refusals_are_clear():
    with pytest.raises(hyxuser.NotFound) as raised:
        hyxuser.uefi_get(f"Missing-{GUID}")
    assert raised.value.name == "HYX_NOT_FOUND"
    with pytest.raises(hyxuser.HyxError) as raised:
        hyxuser.uefi_get("x" * 2048)
    assert raised.value.status == status("HYX_LIMIT_EXCEEDED")
    with pytest.raises(hyxuser.HyxError) as raised:
        hyxuser.uefi_set(f"Zero-{GUID}", b"1", attributes=0)
    assert raised.value.status == status("HYX_BAD_PARAM")
    with pytest.raises(ValueError):
        hyxuser.uefi_get("A\0B")
    with pytest.raises(TypeError):
        hyxuser.uefi_get(5)


@hyxkernel_only
def test_a_kernel_refusal_reaches_the_caller(sim):
    sim.script("KERNEL_CALL_HSI_GET", status("HYX_NO_ACCESS"), -13)
    with pytest.raises(hyxuser.PermissionDenied):
        hyxuser.uefi_get(f"SecureBoot-{GUID}")


@off_host_only
def test_off_host():
    with pytest.raises(hyxuser.NotOnHost):
        hyxuser.uefi_variables()
