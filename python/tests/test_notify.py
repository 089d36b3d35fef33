"""Observations, traps and events reach the host's daemons (hyxsim --daemons)."""

import datetime

import pytest

import hyxuser
from conftest import records, status

HOBD = "/run/hyxsim/hobd.jsonl"
SNMP = "/run/hyxsim/snmp-agent.jsonl"
MGMTD = "/run/hyxsim/mgmtd.jsonl"
SECOND = 1_000_000_000


def test_an_observation_reaches_the_daemon():
    before = len(records(HOBD, 0))
    hyxuser.notify(hyxuser.Severity.WARNING, "disk", "kb.1", "disk 100% slow")
    got = records(HOBD, before + 1)[before:]
    assert len(got) == 1
    assert got[0]["message"].endswith("disk 100% slow")  # the text is an argument, never a format


@pytest.mark.parametrize(
    "component, kb, text, name",
    [
        ("", "kb", "t", "HYX_BAD_PARAM"),
        ("c" * 32, "kb", "t", "HYX_NAME_TOO_LONG"),
        ("c", "k" * 512, "t", "HYX_LIMIT_EXCEEDED"),
        ("c", "kb", "t" * 512, "HYX_LIMIT_EXCEEDED"),
    ],
)
def test_observation_refusals(component, kb, text, name):
    with pytest.raises(hyxuser.HyxError) as raised:
        hyxuser.notify(hyxuser.Severity.INFO, component, kb, text)
    assert raised.value.status == status(name)


def test_traps_are_spooled_and_throttled(sim):
    sim.pin_clock(1000 * SECOND)
    assert hyxuser.trap_throttle_period() == datetime.timedelta(seconds=10)
    before = len(records(SNMP, 0))
    hyxuser.send_trap("1.3.6.1.4.1.1234.1.0.7", [
        hyxuser.VarBind("1.3.6.1.2.1.1.5.0", hyxuser.SnmpType.OCTET_STRING, "host-a"),
        ("1.3.6.1.2.1.1.3.0", hyxuser.SnmpType.TIMETICKS, "42"),
    ])
    got = records(SNMP, before + 1)[before:]
    assert [(r["enterpriseOid"], r["specific"]) for r in got] == [("1.3.6.1.4.1.1234.1", 7)]
    assert [(b["oid"], b["value"]) for b in got[0]["bindings"]] == [
        ("1.3.6.1.2.1.1.5.0", "host-a"), ("1.3.6.1.2.1.1.3.0", "42")]
    # Inside the window: Throttled, and the query says how long is left.
    sim.advance_clock(4 * SECOND)
    with pytest.raises(hyxuser.Throttled) as raised:
        hyxuser.send_trap("1.3.6.1.4.1.1234.1.0.8")
    assert raised.value.status == status("HYX_LIMIT_EXCEEDED")
    assert hyxuser.trap_throttle_remaining() == datetime.timedelta(seconds=6)
    sim.advance_clock(6 * SECOND)
    assert hyxuser.trap_throttle_remaining() == datetime.timedelta(0)
    with pytest.raises(hyxuser.HyxError) as raised:
        hyxuser.send_trap("not an oid")
    assert type(raised.value) is hyxuser.HyxError and raised.value.status == status("HYX_BAD_PARAM")


def test_events_are_posted_and_throttled(sim):
    sim.pin_clock(5000 * SECOND)
    assert hyxuser.event_throttle_period() == datetime.timedelta(minutes=5)
    before = len(records(MGMTD, 0))
    hyxuser.post_event("hyx.Example", hyxuser.EventSeverity.ERROR, {"disk": "sda", "note": "<&>"})
    got = [r for r in records(MGMTD, before + 2)[before:] if r.get("method") == "PostEvent"]
    assert len(got) == 1
    assert "hyx.Example" in got[0]["body"] and "sda" in got[0]["body"] and "&lt;&amp;&gt;" in got[0]["body"]
    sim.advance_clock(60 * SECOND)
    with pytest.raises(hyxuser.Throttled):
        hyxuser.post_event("hyx.Example")
    assert hyxuser.event_throttle_remaining() == datetime.timedelta(minutes=4)
    sim.advance_clock(240 * SECOND)
    with pytest.raises(hyxuser.HyxError) as raised:
        hyxuser.post_event("hyx.Example", 3)
    assert raised.value.status == status("HYX_BAD_PARAM")


def test_the_trap_size_limit_can_be_raised(sim):
    sim.pin_clock(9000 * SECOND)
    big = [("1.3.6.1.2.1.1.5.0", hyxuser.SnmpType.OCTET_STRING, "x" * 2000)]
    try:
        with pytest.raises(hyxuser.HyxError) as raised:
            hyxuser.send_trap("1.3.6.1.4.1.1234.1.0.9", big)
        assert raised.value.status == status("HYX_RESULT_TOO_LARGE")
        sim.advance_clock(20 * SECOND)
        before = len(records(SNMP, 0))
        hyxuser.configure_traps(large=True)
        hyxuser.send_trap("1.3.6.1.4.1.1234.1.0.9", big)
        assert records(SNMP, before + 1)[before]["bindings"][0]["value"] == "x" * 2000
    finally:
        hyxuser.configure_traps(large=False)
