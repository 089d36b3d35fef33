"""Physical NICs and TCP/IP interfaces, against the profile."""

import ipaddress

import pytest

import hyxuser
from conftest import PROFILE, hyxkernel_only, off_host_only


@hyxkernel_only
def test_pnics_are_the_profiles():
    expected = [e["value"] for e in PROFILE["hsi"]["net_pNics_properties"]]
    got = hyxuser.pnics()
    assert [n.name for n in got] == [e["deviceName"] for e in expected]
    assert [n.mac for n in got] == [e["permanentMac"] for e in expected]
    assert all(isinstance(n.link_up, bool) for n in got)
    assert any(n.link_up for n in got) and not all(n.link_up for n in got)


@hyxkernel_only
def test_interfaces_are_the_profiles():
    def by_name(node):
        return {e["instances"][1]: e["value"] for e in PROFILE["hsi"][node]}

    macs, mtus = by_name("net_tcpip_instances_vNics_macaddr"), by_name("net_tcpip_instances_vNics_mtu")
    addresses, masks = by_name("net_tcpip_instances_vNics_v4_ipaddr"), by_name("net_tcpip_instances_vNics_v4_netmask")
    got = hyxuser.interfaces()
    assert [i.name for i in got] == list(macs)
    for interface in got:
        assert interface.mac == ":".join(f"{b:02x}" for b in macs[interface.name]["addr"])
        assert interface.mtu == mtus[interface.name]["mtu"]
        assert interface.ipv4_address == ipaddress.IPv4Address(addresses[interface.name]["addr"])
        assert interface.ipv4_netmask == ipaddress.IPv4Address(masks[interface.name]["mask"])


@off_host_only
def test_off_host():
    for call in (hyxuser.pnics, hyxuser.interfaces):
        with pytest.raises(hyxuser.NotOnHost):
            call()
