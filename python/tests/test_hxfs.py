"""HXFS volumes and their heartbeats, on the volumes the hxfs host lays out."""

import datetime
import errno
import os
import uuid

import pytest

import hyxuser
from conftest import PROFILE, profile_bytes, status

VOLUMES = "/hxfs/volumes/"


def _volume(name):
    return next(v for v in PROFILE["volumes"] if v["name"] == name)


FREE_SLOT = 0xABCDEF01  # the state word of a slot no host holds


def _state(host):
    state = host.get("state", 1)
    return int(state, 0) if isinstance(state, str) else state


def _held(volume):
    """The profile's hosts in slot order, free slots left out."""
    hosts = sorted(volume["hosts"], key=lambda h: h["slot"])
    return [hyxuser.HostRecord(h["mac"], h["stamp"], _state(h), uuid.UUID(bytes=profile_bytes(
        h["uuid"].replace(" ", "")))) for h in hosts if _state(h) != FREE_SLOT]


@pytest.mark.parametrize("name", ["datastore1", "datastore2"])
def test_heartbeats_are_the_volumes_records(name):
    with hyxuser.heartbeats(VOLUMES + name) as reading:
        assert list(reading) == _held(_volume(name))
        assert reading.closed, "the iterator ends itself after the last record"
    assert hyxuser.is_hxfs(VOLUMES + name)


def test_newest_record_of_a_host_and_this_host():
    this = hyxuser.host_uuid()
    with hyxuser.heartbeats(VOLUMES + "datastore1") as reading:
        first = next(reading)
        assert first.uuid == this
        newest = reading.host(this)
        assert newest is not None and newest.time_stamp >= first.time_stamp
        assert reading.host(uuid.UUID(int=0xDEAD)) is None
    assert reading.closed
    with pytest.raises(ValueError):
        reading.host(this)


def test_leaving_early_ends_the_reading():
    reading = hyxuser.heartbeats(VOLUMES + "datastore1")
    with reading:
        next(reading)
    assert reading.closed
    assert list(reading) == []
    reading.close()  # again is harmless


@pytest.mark.parametrize(
    "name, begin",
    [
        ("slots0", "HYX_NOT_SUPPORTED"),
        ("shortregion", "HYX_READ_ERROR"),
        ("nodevice", "HYX_BAD_PARAM"),
    ],
)
def test_volumes_that_cannot_be_read(name, begin):
    with pytest.raises(hyxuser.HyxError) as raised:
        hyxuser.heartbeats(VOLUMES + name)
    assert raised.value.status == status(begin)


def test_a_path_without_a_volume_and_another_file_system():
    with pytest.raises(hyxuser.NotFound) as raised:
        hyxuser.heartbeats(VOLUMES + "missing")
    assert raised.value.errno == errno.ENOENT
    assert not hyxuser.is_hxfs(VOLUMES + "otherfs")
    with pytest.raises(hyxuser.HyxError):
        hyxuser.heartbeats(VOLUMES + "otherfs")


@pytest.mark.parametrize("name", ["datastore1", "datastore2", "otherfs"])
def test_lock_time_of_a_file(name):
    # The lock time is microseconds of the host's uptime.
    volume = _volume(name)
    left_us = volume.get("lockTime", 0) - PROFILE["hsi"]["timer_info"]["value"]["sysUptime"]
    fd = os.open(VOLUMES + name, os.O_RDONLY)
    try:
        if "lockStatus" in volume:
            with pytest.raises(hyxuser.HyxError) as raised:
                hyxuser.verify_lock(fd)
            assert raised.value.name == volume["lockStatus"]
        elif left_us > 0:
            assert hyxuser.verify_lock(fd) == datetime.timedelta(microseconds=left_us)
        else:
            with pytest.raises(hyxuser.HyxError) as raised:
                hyxuser.verify_lock(fd, 0x5A)
            assert raised.value.status == status("HYX_TIMEOUT")
    finally:
        os.close(fd)
