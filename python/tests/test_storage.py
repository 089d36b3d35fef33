"""Storage adapters, devices, paths and PCI locations, against the profile."""

import pytest

import hyxuser
from conftest import PROFILE, PROFILE_NAME, hyxkernel_only, off_host_only, profile_bytes, status


def _values(node):
    return [e["value"] for e in PROFILE["hsi"][node]]


@hyxkernel_only
def test_adapters_and_their_pci_locations():
    for adapter in _values("storage_scsifw_adapters_info"):
        if "pciBus" not in adapter or "Npiv" in adapter.get("transportType", ""):
            continue
        location = hyxuser.PciLocation(adapter["pciBus"], adapter["pciSlot"], adapter["pciFunction"])
        assert hyxuser.adapter_pci_location(adapter["name"]) == location
        assert hyxuser.adapter_at(location.bus, location.slot, location.function) == adapter["name"]
    assert hyxuser.adapter_at(250, 31, 7) is None


@pytest.mark.skipif(PROFILE_NAME != "edges", reason="the FC-NPIV port is on the edges host")
def test_a_virtual_port_has_no_pci_location():
    with pytest.raises(hyxuser.HyxError) as raised:
        hyxuser.adapter_pci_location("vmhba32")
    assert raised.value.status == status("HYX_FAILURE")


@hyxkernel_only
def test_devices_and_paths_are_the_profiles():
    paths = _values("storage_scsifw_paths_info")
    for adapter in {p["adapterName"] for p in paths}:
        active = [p["deviceUid"] for p in paths if p["adapterName"] == adapter and p["isActive"]]
        assert hyxuser.active_device_uids(adapter) == active
        assert hyxuser.active_device_uids(adapter, max_uids=1) == active[:1]
    for device in {p["deviceUid"] for p in paths}:
        expected = [hyxuser.DevicePath(p["adapterName"], p["channel"], p["targetId"], p["lunId"])
                    for p in paths if p["deviceUid"] == device]
        assert hyxuser.device_paths(device) == expected


@hyxkernel_only
def test_vpd_and_nvme_flags():
    for entry in PROFILE["hsi"]["storage_scsifw_devices_inquiryVPD_data"]:
        device, raw = entry["instances"][0], profile_bytes(entry["bytes"].replace(" ", ""))
        assert hyxuser.device_vpd83(device, len(raw)) == raw
        assert hyxuser.device_vpd83(device, 4) == raw[:4]
    assert hyxuser.device_vpd83("naa.none") is None
    for device in _values("storage_scsifw_devices_info"):
        expected = bool(device.get("isNvme") and device.get("isNextGen"))
        assert hyxuser.is_nextgen_nvme(device["name"]) is expected
    with pytest.raises(hyxuser.NotFound):
        hyxuser.is_nextgen_nvme("naa.none")


@hyxkernel_only
def test_bad_arguments():
    with pytest.raises(ValueError):
        hyxuser.device_vpd83("naa.x", 256)
    with pytest.raises(ValueError):
        hyxuser.active_device_uids("vmhba0", max_uids=0)
    with pytest.raises(hyxuser.HyxError) as raised:
        hyxuser.rescan_adapter("a" * 32)
    assert raised.value.status == status("HYX_BAD_PARAM")


@hyxkernel_only
def test_rescan_reaches_the_kernel(sim):
    before = sim.rescan_count("vmhba2")
    hyxuser.rescan_adapter("vmhba2")
    assert sim.rescan_count("vmhba2") == before + 1


@off_host_only
def test_off_host():
    calls = [lambda: hyxuser.adapter_pci_location("vmhba0"), lambda: hyxuser.adapter_at(2, 0, 0),
             lambda: hyxuser.active_device_uids("vmhba2"), lambda: hyxuser.device_paths("naa.x"),
             lambda: hyxuser.device_vpd83("naa.x"), lambda: hyxuser.is_nextgen_nvme("naa.x")]
    for call in calls:
        with pytest.raises(hyxuser.NotOnHost):
            call()
