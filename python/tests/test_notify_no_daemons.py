"""Without the host's daemons the notifications say the service is not there."""

import pytest

import hyxuser
from conftest import status


def test_no_observation_daemon():
    with pytest.raises(hyxuser.NotReady) as raised:
        hyxuser.notify(hyxuser.Severity.INFO, "disk", "kb.1", "text")
    assert raised.value.status == status("HYX_NO_CONNECT")


def test_no_snmp_agent():
    with pytest.raises(hyxuser.NotReady) as raised:
        hyxuser.send_trap("1.3.6.1.4.1.1234.1.0.7")
    assert raised.value.status == status("HYX_NOT_READY")


def test_no_management_daemon():
    with pytest.raises(hyxuser.HyxError) as raised:
        hyxuser.post_event("hyx.Example")
    assert raised.value.status == status("HYX_FAILURE")
