"""PAM checks against the sandbox's service "hyxsim" and its test accounts."""

import pytest

import hyxuser
from conftest import status

SERVICE = "hyxsim"
PASSWORD = "hyx-secret"


def test_a_user_who_may_log_in():
    hyxuser.pam_check("hyxuser", PASSWORD, SERVICE)
    hyxuser.pam_check("hyxuser", PASSWORD, SERVICE, silent=True)


@pytest.mark.parametrize(
    "user, password, account, kind, name",
    [
        ("hyxuser", "wrong", True, hyxuser.PermissionDenied, "HYX_IO_ERROR"),
        ("hyxexpired", PASSWORD, True, hyxuser.PermissionDenied, "HYX_LIMIT_EXCEEDED"),
        ("hyxnobody", PASSWORD, True, None, None),
    ],
)
def test_refusals(user, password, account, kind, name):
    with pytest.raises(hyxuser.HyxError) as raised:
        hyxuser.pam_check(user, password, SERVICE, account=account)
    if kind is not None:
        assert type(raised.value) is kind
        assert raised.value.name == name
    assert hyxuser.status_pam_value(raised.value.status) is not None


def test_an_expired_account_passes_the_password_check_alone():
    hyxuser.pam_check("hyxexpired", PASSWORD, SERVICE, account=False)


def test_bad_arguments():
    with pytest.raises(ValueError):
        hyxuser.pam_check("hyx\0user", PASSWORD, SERVICE)
    with pytest.raises(hyxuser.PermissionDenied):
        hyxuser.pam_check("hyxuser", "", SERVICE, silent=True)
