"""Status codes, the exceptions they raise, and how the exports are bound."""

import errno
import re

import pytest

import hyxuser
from hyxuser import _native
from conftest import SOURCE, status

ERRNO_BASE = 0x2BAD0000


@pytest.mark.parametrize(
    "name, text, err, pam",
    [
        ("HYX_OK", "okay", 0, 0),
        ("HYX_NOT_FOUND", "Not found", errno.ENOENT, 10),
        ("HYX_NO_MEMORY", "Out of memory", errno.ENOMEM, None),
        ("HYX_GENERIC_LINUX_ERROR", "Generic service console error", errno.EIO, None),
        ("HYX_EXISTS", "Already exists", errno.EEXIST, None),
    ],
)
def test_conversions_come_from_the_library(name, text, err, pam):
    code = status(name)
    assert hyxuser.status_name(code) == name
    assert hyxuser.status_text(code) == text
    assert hyxuser.status_errno(code) == err
    assert hyxuser.status_pam_value(code) == pam


def test_codes_the_table_does_not_hold():
    # 0x0bad0001 is reported through the unknown-code road, as the library does.
    assert hyxuser.status_text(0x0BAD016E) == "Unknown error status: 0xbad016e"
    assert hyxuser.status_errno(0x0BAD016E) == errno.EINVAL
    assert hyxuser.status_name(0x0BAD016E) == "UNKNOWN"
    assert hyxuser.status_text(ERRNO_BASE + errno.ENOENT) == "No such file or directory"
    assert hyxuser.status_name(ERRNO_BASE + errno.ENOENT) == "HYX_GENERIC_LINUX_ERROR"
    assert hyxuser.status_errno(ERRNO_BASE + errno.ENOENT) == errno.ENOENT
    with pytest.raises(KeyError):
        hyxuser.status_code("HYX_NO_SUCH_STATUS")


def test_names_come_from_the_header_table():
    table = (SOURCE / "include" / "hyxuser" / "hyxuser_status.def").read_text()
    rows = re.findall(r"^HYX_STATUS\((0x[0-9a-f]+), (\w+),", table, re.MULTILINE)
    assert len(rows) > 300
    for n, name in rows:
        code = int(n, 16)
        assert hyxuser.status_code(name) == (0x0BAD0000 + code if code else 0)


@pytest.mark.parametrize(
    "code, kind",
    [
        (status("HYX_NOT_FOUND"), hyxuser.NotFound),
        (ERRNO_BASE + errno.ENOENT, hyxuser.NotFound),
        (status("HYX_NO_ACCESS"), hyxuser.PermissionDenied),
        (status("HYX_NO_PERMISSION"), hyxuser.PermissionDenied),
        (ERRNO_BASE + errno.EACCES, hyxuser.PermissionDenied),
        (status("HYX_NOT_READY"), hyxuser.NotReady),
        (status("HYX_NO_CONNECT"), hyxuser.NotReady),
        (status("HYX_CHECKSUM_MISMATCH"), hyxuser.NotOnHost),
        (status("HYX_NOT_IMPLEMENTED"), hyxuser.NotOnHost),
        (status("HYX_BAD_PARAM"), hyxuser.HyxError),
        (status("HYX_LIMIT_EXCEEDED"), hyxuser.HyxError),
        (0x0BAD016E, hyxuser.HyxError),
    ],
)
def test_each_status_raises_its_class(code, kind):
    from hyxuser._errors import check

    with pytest.raises(hyxuser.HyxError) as raised:
        check(code, "context")
    assert type(raised.value) is kind
    error = raised.value
    assert error.status == code
    assert error.name == hyxuser.status_name(code)
    assert error.message == hyxuser.status_text(code)
    assert error.errno == hyxuser.status_errno(code)
    assert str(error).startswith("context: " + error.message)


def test_errors_survive_pickling():
    import pickle

    error = pickle.loads(pickle.dumps(hyxuser.NotFound(status("HYX_NOT_FOUND"), "uefi")))
    assert type(error) is hyxuser.NotFound
    assert (error.status, error.name, str(error)) == (status("HYX_NOT_FOUND"), "HYX_NOT_FOUND",
                                                      "uefi: Not found (HYX_NOT_FOUND, 0x0bad0003)")


def test_subclasses_are_hyx_errors():
    for kind in (hyxuser.NotFound, hyxuser.PermissionDenied, hyxuser.NotReady, hyxuser.Throttled, hyxuser.NotOnHost):
        assert issubclass(kind, hyxuser.HyxError)
        assert kind.__module__ == "hyxuser"


def _manifest():
    exports = set()
    for line in (SOURCE / "lib" / "hyxuser" / "exports.manifest").read_text().splitlines():
        fields = line.split()
        if fields[:1] == ["export"]:
            exports.add((fields[1], fields[2]))
    return exports


def test_every_binding_is_an_export_under_its_own_version():
    exports = _manifest()
    assert _native.BINDINGS
    for binding in _native.BINDINGS:
        assert binding in exports, binding


def test_an_export_kept_under_several_versions_is_called_by_the_one_named():
    # From 0.24 on the instance mapping gives the plain uuid; the package
    # names 0.16, where it still gives the instance uuid.
    assert ("HyxuserVM_MapWorldIdToInstanceUUIDAndPath", "NORVEX_HYXUSERVERSION_0.16") in _native.BINDINGS
    assert ("HyxuserCompat_ForkExec", "NORVEX_HYXUSERCOMPAT_0.2") in _native.BINDINGS
    with pytest.raises(ImportError, match="HyxuserCompat_ForkExec@NORVEX_HYXUSERVERSION_0.9"):
        _native.bind("HyxuserCompat_ForkExec", "NORVEX_HYXUSERVERSION_0.9", _native.Status)


def test_help_covers_every_public_name():
    for name in hyxuser.__all__:
        assert getattr(hyxuser, name).__doc__, name


def test_a_library_that_cannot_be_loaded_is_named():
    import os
    import subprocess
    import sys

    env = dict(os.environ, HYXUSER_LIBRARY="/nonexistent/libhyxuser.so")
    run = subprocess.run([sys.executable, "-c", "import hyxuser"], env=env, capture_output=True, text=True)
    assert run.returncode != 0
    assert "ImportError" in run.stderr and "/nonexistent/libhyxuser.so" in run.stderr
