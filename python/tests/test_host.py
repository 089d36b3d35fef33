"""Version, uptime, firmware tables and the host checks, against the profile."""

import datetime

import pytest

import hyxuser
from conftest import ON_LINUX, PROFILE, hsi_value, hyxkernel_only, off_host_only, profile_bytes, status


@hyxkernel_only
def test_version_and_uptime_are_the_profiles():
    expected = hsi_value("system_version")
    got = hyxuser.version()
    assert got == hyxuser.Version(
        expected["product"], expected["productVersion"], expected["buildType"], expected["buildDate"],
        expected["buildTime"], expected["releaseUpdate"], expected["releasePatch"], expected["hyxkernelBuild"])
    plain = hyxuser.system_version()
    assert (plain.build_version, plain.build) == (expected["buildVersion"], expected["hyxkernelBuild"])
    # The host's uptime keeps the real pace from the profile's value.
    assert hyxuser.uptime() >= datetime.timedelta(microseconds=hsi_value("timer_info")["sysUptime"])


@hyxkernel_only
def test_host_checks():
    assert hyxuser.interface_matches()
    assert hyxuser.on_hyxkernel()
    assert hyxuser.native_socket_family() == 26


@hyxkernel_only
def test_firmware_tables_are_the_profiles_bytes():
    for table in PROFILE["firmware"]["acpi"]:
        assert hyxuser.acpi_table(table["signature"], table["instance"]) == profile_bytes(table["bytes"])
    smbios = PROFILE["firmware"]["smbios"]
    assert hyxuser.smbios() == bytes.fromhex(smbios[4:].replace(" ", ""))


@hyxkernel_only
def test_a_missing_table_and_a_bad_signature():
    with pytest.raises(hyxuser.HyxError) as raised:
        hyxuser.acpi_table("NONE")
    assert raised.value.status != 0
    with pytest.raises(ValueError):
        hyxuser.acpi_table("API")
    with pytest.raises(ValueError):
        hyxuser.acpi_table("AP\0C")


@off_host_only
def test_off_host_every_call_says_so():
    gated = [hyxuser.version, hyxuser.system_version, hyxuser.uptime, hyxuser.host_uuid]
    if ON_LINUX:
        gated += [hyxuser.smbios, lambda: hyxuser.acpi_table("APIC")]
    for call in gated:
        with pytest.raises(hyxuser.NotOnHost) as raised:
            call()
        assert raised.value.status in (status("HYX_CHECKSUM_MISMATCH"), status("HYX_NOT_IMPLEMENTED"))
    assert not hyxuser.interface_matches()
    assert hyxuser.on_hyxkernel() == (not ON_LINUX)


@hyxkernel_only
def test_calls_from_many_threads_at_once():
    # ctypes lets go of the interpreter lock for each call: the library's
    # own thread safety is all there is, and the package adds no state.
    from concurrent.futures import ThreadPoolExecutor

    expected = (hyxuser.version(), hyxuser.pnics(), hyxuser.uefi_variables())
    with ThreadPoolExecutor(8) as pool:
        results = list(pool.map(lambda _: (hyxuser.version(), hyxuser.pnics(), hyxuser.uefi_variables()),
                                range(64)))
    assert all(r == expected for r in results)
