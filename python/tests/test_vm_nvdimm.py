"""The VM a world belongs to, and the NVDIMM driver's capabilities."""

import uuid

import pytest

import hyxuser
from conftest import PROFILE, PROFILE_NAME, hsi_value, hyxkernel_only, off_host_only, status


def _world_of_each_vm():
    leaders = {e["instances"][0]: e["value"] for e in PROFILE["hsi"]["worldGroups_vmmLeaderID"]}
    vms = {e["instances"][0]: e["value"] for e in PROFILE["hsi"]["vm_vmmGroupInfo"]}
    for world in PROFILE["hsi"]["world_info"]:
        leader = leaders.get(world["value"]["groupID"])
        if leader in vms:
            yield world["instances"][0], vms[leader]


@hyxkernel_only
def test_every_world_of_a_vm_maps_to_it():
    seen = 0
    for world, vm in _world_of_each_vm():
        got = hyxuser.vm_for_world(world)
        assert got.uuid == uuid.UUID(vm["uuid"].replace(" ", "").replace("-", ""))
        if "instanceUuid" in vm:
            assert got.instance_uuid == uuid.UUID(vm["instanceUuid"])
        # The whole path, also where it is longer than 1024 bytes.
        assert got.config_path == vm["cfgPath"]
        seen += 1
    assert seen >= 3
    with pytest.raises(hyxuser.HyxError):
        hyxuser.vm_for_world(1)  # the idle world has no VM


@pytest.mark.skipif(PROFILE_NAME != "hypervisor", reason="the hypervisor host's driver answers")
def test_nvdimm_capabilities():
    expected = hsi_value("hardware_nvd_system_capabilities")
    got = hyxuser.nvdimm_capabilities()
    assert got.max_namespaces == expected["maxNamespaces"]
    assert got.min_namespace_size == expected["minNamespaceSize"]
    assert got.supported_features != 0
    assert not got.supported_features & (1 << 18), "block namespaces are never offered"


@hyxkernel_only
def test_a_refused_capability_read(sim):
    sim.script("KERNEL_CALL_HSI_GET", status("HYX_NOT_FOUND"), -2)
    with pytest.raises(hyxuser.NotFound):
        hyxuser.nvdimm_capabilities()


@off_host_only
def test_off_host():
    with pytest.raises(hyxuser.NotOnHost):
        hyxuser.vm_for_world(526433)
