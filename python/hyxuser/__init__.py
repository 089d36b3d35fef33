"""hyxuser: the Hyxkernel host's user-space library, for Python scripts.

A thin layer over libhyxuser.so as shipped (ctypes, nothing to compile).
The library is the one HYXUSER_LIBRARY names, else the one beside this
package's prefix, else whatever the dynamic loader finds.

Families:
  status      status_text, status_errno, status_name, status_pam_value
  host        version, system_version, uptime, interface_matches, on_hyxkernel,
              native_socket_family, acpi_table, smbios
  uefi        uefi_variables, uefi_get, uefi_set, uefi_remove
  network     pnics, interfaces
  storage     adapter_pci_location, adapter_at, active_device_uids,
              device_paths, device_vpd83, is_nextgen_nvme, rescan_adapter
  vm          vm_for_world
  nvdimm      nvdimm_capabilities
  notify      notify, send_trap, configure_traps, post_event and their
              throttle queries
  hxfs        is_hxfs, heartbeats, verify_lock, host_uuid
  pam         pam_check
  processes   fork_exec, wait, system

Results are frozen dataclasses, lists and plain values; nothing is left for
the caller to free.  A failure raises HyxError (status, name, message,
errno) or one of its subclasses NotFound, PermissionDenied, NotReady,
Throttled and NotOnHost.  The package keeps no state but the loaded
library and adds no lock: calls are as thread-safe as the library's.

    >>> import hyxuser
    >>> hyxuser.version().product_version
    '8.0.3'
"""

from __future__ import annotations

import ctypes
import datetime
import enum
import ipaddress
import os
import uuid as _uuid
from collections.abc import Iterator, Mapping, Sequence
from dataclasses import dataclass
from types import TracebackType

from . import _native as _n
from ._errors import (
    HyxError,
    NotFound,
    NotOnHost,
    NotReady,
    PermissionDenied,
    Throttled,
    check as _check,
    error_class as _error_class,
    status_code,
    status_errno,
    status_name,
    status_pam_value,
    status_text,
)

__all__ = [
    "HyxError",
    "NotFound",
    "PermissionDenied",
    "NotReady",
    "Throttled",
    "NotOnHost",
    "status_text",
    "status_errno",
    "status_name",
    "status_code",
    "status_pam_value",
    "Version",
    "SystemVersion",
    "version",
    "system_version",
    "uptime",
    "interface_matches",
    "on_hyxkernel",
    "native_socket_family",
    "acpi_table",
    "smbios",
    "UefiVariable",
    "uefi_variables",
    "uefi_get",
    "uefi_set",
    "uefi_remove",
    "Pnic",
    "Interface",
    "pnics",
    "interfaces",
    "PciLocation",
    "DevicePath",
    "adapter_pci_location",
    "adapter_at",
    "active_device_uids",
    "device_paths",
    "device_vpd83",
    "is_nextgen_nvme",
    "rescan_adapter",
    "VmInfo",
    "vm_for_world",
    "NvdimmCapabilities",
    "nvdimm_capabilities",
    "Severity",
    "notify",
    "SnmpType",
    "VarBind",
    "configure_traps",
    "send_trap",
    "trap_throttle_remaining",
    "trap_throttle_period",
    "EventSeverity",
    "post_event",
    "event_throttle_remaining",
    "event_throttle_period",
    "HostRecord",
    "Heartbeats",
    "is_hxfs",
    "heartbeats",
    "verify_lock",
    "host_uuid",
    "pam_check",
    "fork_exec",
    "wait",
    "system",
]

_OK = 0
# Durations are made by multiplying one unit: exact for any integer count,
# and about twice as fast as the keyword constructor on the uptime path.
_MICROSECOND = datetime.timedelta(microseconds=1)
_MILLISECOND = datetime.timedelta(milliseconds=1)
for _exported in (HyxError, NotFound, PermissionDenied, NotReady, Throttled, NotOnHost):
    _exported.__module__ = __name__


def _text(raw: bytes) -> str:
    return raw.split(b"\0", 1)[0].decode(errors="replace")


def _mac(raw: Sequence[int]) -> str:
    return ":".join(f"{b:02x}" for b in raw)


def _arg(value: str | bytes | os.PathLike[str], what: str) -> bytes:
    """A text argument as the bytes the library gets (UTF-8, no NUL)."""
    if isinstance(value, os.PathLike):
        value = os.fspath(value)
    if isinstance(value, str):
        value = value.encode()
    if not isinstance(value, bytes):
        raise TypeError(f"{what} must be str or bytes, not {type(value).__name__}")
    if b"\0" in value:
        raise ValueError(f"{what} must not contain a NUL character")
    return value


def _free_list(array: ctypes.c_void_p | None, count: int) -> None:
    if not array:
        return
    entries = ctypes.cast(array, ctypes.POINTER(ctypes.c_void_p))
    for i in range(count):
        if entries[i]:
            _n.libc_free(entries[i])


# ---- Host: version, uptime, firmware tables ---------------------------------


@dataclass(frozen=True)
class Version:
    """The host kernel's product and build (the unique form of the record)."""

    product: str
    product_version: str
    build_type: str
    build_date: str
    build_time: str
    release_update: str
    release_patch: str
    build: int


@dataclass(frozen=True)
class SystemVersion:
    """The host kernel's product and build, with its build version text."""

    product: str
    product_version: str
    build_version: str
    build_date: str
    build_time: str
    build: int


def version() -> Version:
    """The host kernel's product, version, build type, date, time, release
    update and patch, and build number.

    Raises NotOnHost off the Hyxkernel or when its interface differs; HyxError
    when the version cannot be read."""
    record = _n.UniqueSystemVersion()
    _check(_n.GetUniqueSystemVersion(ctypes.byref(record)), "version")
    return Version(
        _text(record.product),
        _text(record.productVersion),
        _text(record.buildType),
        _text(record.buildDate),
        _text(record.buildTime),
        _text(record.releaseUpdate),
        _text(record.releasePatch),
        record.build,
    )


def system_version() -> SystemVersion:
    """The host kernel's product and build, with the build version text.

    Raises as version()."""
    record = _n.SystemVersion()
    _check(_n.GetSystemVersion(ctypes.byref(record)), "system version")
    return SystemVersion(
        _text(record.product),
        _text(record.productVersion),
        _text(record.buildVersion),
        _text(record.buildDate),
        _text(record.buildTime),
        record.build,
    )


def uptime() -> datetime.timedelta:
    """How long the host has been up.

    Raises NotOnHost off the Hyxkernel; HyxError when the timer cannot be read."""
    value = ctypes.c_uint64()
    _check(_n.GetUptime(ctypes.byref(value)), "uptime")
    return _MICROSECOND * value.value


def interface_matches() -> bool:
    """True when the kernel speaks the interface the library was built for
    (the check made when the library was loaded)."""
    return _n.VerifyHSISigniture() == _OK


def on_hyxkernel() -> bool:
    """True on the Hyxkernel, False on any other host."""
    value = ctypes.c_int()
    _check(_n.InCOS(ctypes.byref(value)), "on_hyxkernel")
    return value.value == 0


def native_socket_family() -> int:
    """The kernel's native socket address family (for socket.socket)."""
    value = ctypes.c_int()
    _check(_n.NativeSocketFamily(ctypes.byref(value)), "native socket family")
    return value.value


def acpi_table(signature: str, instance: int = 0) -> bytes:
    """The ACPI table with the four-character signature ("APIC") and
    instance (0 for the first), as bytes.

    Raises NotFound for a table the host does not have (as the kernel
    reports it), NotOnHost off the Hyxkernel, ValueError for a signature
    that is not four characters."""
    sig = _arg(signature, "signature")
    if len(sig) != 4:
        raise ValueError("an ACPI signature has four characters")
    length = ctypes.c_uint32()
    _check(_n.AcpiGetTableLength(sig, instance, ctypes.byref(length)), f"ACPI table {signature}")
    if length.value == 0:
        return b""
    buffer = ctypes.create_string_buffer(length.value)
    _check(_n.AcpiGetTable(sig, instance, buffer, length.value), f"ACPI table {signature}")
    return buffer.raw


def smbios() -> bytes:
    """The host's SMBIOS data block, as bytes.

    Raises NotOnHost off the Hyxkernel; HyxError when the kernel refuses."""
    length = ctypes.c_uint32()
    _check(_n.SmbiosGetDataLen(ctypes.byref(length)), "SMBIOS")
    if length.value == 0:
        return b""
    buffer = ctypes.create_string_buffer(length.value)
    _check(_n.SmbiosGetData(buffer, length.value), "SMBIOS")
    return buffer.raw


# ---- UEFI variables ----------------------------------------------------------


@dataclass(frozen=True)
class UefiVariable:
    """A firmware variable's attribute bits (1 non-volatile, 2 boot-service
    access, 4 runtime access, ...) and contents."""

    attributes: int
    data: bytes


def uefi_variables() -> list[str]:
    """The names of every firmware variable ("Name-GUID").

    Raises NotOnHost off the Hyxkernel; HyxError when the kernel refuses."""
    names = ctypes.POINTER(ctypes.c_void_p)()
    count = ctypes.c_uint32()
    status = _n.UefiGetVariableList(ctypes.byref(names), ctypes.byref(count))
    try:
        _check(status, "UEFI variable list")
        return [ctypes.string_at(names[i]).decode(errors="replace") for i in range(count.value)]
    finally:
        if names:
            _free_list(ctypes.cast(names, ctypes.c_void_p), count.value)
            _n.libc_free(ctypes.cast(names, ctypes.c_void_p))


def uefi_get(name: str) -> UefiVariable:
    """The attributes and contents of the firmware variable name.

    Raises NotFound when there is no such variable; HyxError (HYX_LIMIT_EXCEEDED)
    for a name longer than 2047 characters."""
    attributes = ctypes.c_uint32()
    length = ctypes.c_uint64()
    data = ctypes.c_void_p()
    status = _n.UefiGetVariable(_arg(name, "name"), ctypes.byref(attributes), ctypes.byref(length), ctypes.byref(data))
    try:
        _check(status, f"UEFI variable {name}")
        contents = ctypes.string_at(data, length.value) if data.value else b""
        return UefiVariable(attributes.value, contents)
    finally:
        if data.value:
            _n.libc_free(data)


def uefi_set(name: str, data: bytes, attributes: int = 7) -> None:
    """Writes the firmware variable name (attributes default to non-volatile,
    boot-service and runtime access).  Empty data deletes the variable.

    Raises HyxError (HYX_BAD_PARAM) for attributes 0, (HYX_LIMIT_EXCEEDED)
    for a name that is too long, or the kernel's refusal."""
    contents = bytes(data)
    _check(_n.UefiSetVariable(_arg(name, "name"), attributes, len(contents), contents or None), f"UEFI variable {name}")


def uefi_remove(name: str) -> None:
    """Deletes the firmware variable name.

    Raises NotFound when there is no such variable (as the kernel says)."""
    _check(_n.UefiRemoveVariable(_arg(name, "name")), f"UEFI variable {name}")


# ---- Network ----------------------------------------------------------------


@dataclass(frozen=True)
class Pnic:
    """A physical NIC: name, link speed in Mb/s, link state, MAC address as
    text ("00:1e:67:a0:31:10"), hardware capability flags."""

    name: str
    link_speed: int
    link_up: bool
    mac: str
    hw_cap_supported: int
    hw_cap_activated: int


@dataclass(frozen=True)
class Interface:
    """A TCP/IP interface of the default stack."""

    name: str
    mac: str
    mtu: int
    tso_mss: int
    ipv4_address: ipaddress.IPv4Address
    ipv4_netmask: ipaddress.IPv4Address


def _listed(getter: object, record: type, what: str) -> list:
    count = ctypes.c_uint32()
    _check(getter(None, 0, ctypes.byref(count)), what)  # type: ignore[operator]
    while True:
        capacity = max(count.value, 1)
        records = (record * capacity)()
        _check(getter(records, capacity, ctypes.byref(count)), what)  # type: ignore[operator]
        if count.value <= capacity:
            return list(records[: count.value])


def _ipv4(value: int) -> ipaddress.IPv4Address:
    # The bytes are in network order in the low four bytes of the field.
    return ipaddress.IPv4Address(value.to_bytes(8, "little")[:4])


def pnics() -> list[Pnic]:
    """The host's physical NICs, in the kernel's order.

    Raises NotOnHost off the Hyxkernel; HyxError when a NIC cannot be read."""
    return [
        Pnic(_text(r.name), r.linkSpeed, bool(r.linkUp), _mac(r.macAddress), r.hwCapSupported, r.hwCapActivated)
        for r in _listed(_n.GetPnics, _n.PnicInfo, "physical NICs")
    ]


def interfaces() -> list[Interface]:
    """The interfaces of the default TCP/IP stack.

    Raises NotOnHost off the Hyxkernel; HyxError when a value cannot be read."""
    return [
        Interface(_text(r.name), _mac(r.macAddress), r.mtu, r.tsoMss, _ipv4(r.ipv4Address), _ipv4(r.ipv4Netmask))
        for r in _listed(_n.GetInterfaces, _n.TcpipInterface, "TCP/IP interfaces")
    ]


# ---- Storage ----------------------------------------------------------------


@dataclass(frozen=True)
class PciLocation:
    """A PCI bus, slot and function."""

    bus: int
    slot: int
    function: int


@dataclass(frozen=True)
class DevicePath:
    """One path to a device: the adapter and the channel, target and LUN."""

    adapter: str
    channel: int
    target: int
    lun: int


def adapter_pci_location(adapter: str) -> PciLocation:
    """The PCI location of a storage adapter ("vmhba0").

    Raises HyxError (HYX_FAILURE) for an FC-NPIV virtual port, which has
    none; NotFound (as the kernel says) for an adapter that does not exist."""
    bus, slot, function = ctypes.c_uint32(), ctypes.c_uint32(), ctypes.c_uint32()
    _check(
        _n.GetBusSlotFunction(_arg(adapter, "adapter"), ctypes.byref(bus), ctypes.byref(slot), ctypes.byref(function)),
        f"adapter {adapter}",
    )
    return PciLocation(bus.value, slot.value, function.value)


def adapter_at(bus: int, slot: int, function: int) -> str | None:
    """The name of the storage adapter at a PCI location, or None when none
    sits there."""
    size = 256
    while True:
        buffer = ctypes.create_string_buffer(size)
        status = _n.MapBusSlotFunc(bus, slot, function, buffer, size)
        if _status_is(status, "HYX_NAME_TOO_LONG") and size < 65536:
            size *= 4
            continue
        _check(status, "adapter at PCI location")
        return buffer.value.decode(errors="replace") or None


def active_device_uids(adapter: str, max_uids: int = 1024) -> list[str]:
    """The UIDs of the devices an adapter reaches over active paths, one per
    path in the kernel's order (a device on two paths appears twice), at
    most max_uids."""
    if max_uids < 1:
        raise ValueError("max_uids must be at least 1")
    uids = (ctypes.c_void_p * max_uids)()
    count = ctypes.c_uint32()
    status = _n.GetActiveDeviceUIDs(_arg(adapter, "adapter"), uids, max_uids, ctypes.byref(count))
    filled = min(count.value, max_uids) if status == _OK else 0
    try:
        _check(status, f"adapter {adapter}")
        return [ctypes.string_at(uids[i]).decode(errors="replace") for i in range(filled)]
    finally:
        _free_list(ctypes.cast(uids, ctypes.c_void_p), filled)


def device_paths(device_uid: str, max_entries: int = 256) -> list[DevicePath]:
    """Every path to a device (up to max_entries): adapter, channel, target, LUN."""
    if max_entries < 1:
        raise ValueError("max_entries must be at least 1")
    names = (ctypes.c_void_p * max_entries)()
    values = [(ctypes.c_uint32 * max_entries)() for _ in range(3)]
    pointers = [(ctypes.c_void_p * max_entries)() for _ in range(3)]
    for array, value in zip(pointers, values):
        for i in range(max_entries):
            array[i] = ctypes.addressof(value) + 4 * i
    count = ctypes.c_int()
    status = _n.GetAllChannelsTargetsLuns(
        _arg(device_uid, "device_uid"), names, pointers[0], pointers[1], pointers[2], max_entries, ctypes.byref(count)
    )
    # On failure the count is the index of the last entry filled.
    filled = count.value if status == _OK else count.value + 1
    filled = max(0, min(filled, max_entries))
    try:
        _check(status, f"device {device_uid}")
        return [
            DevicePath(ctypes.string_at(names[i]).decode(errors="replace"), values[0][i], values[1][i], values[2][i])
            for i in range(filled)
        ]
    finally:
        _free_list(ctypes.cast(names, ctypes.c_void_p), filled)


def device_vpd83(device_uid: str, length: int = 255) -> bytes | None:
    """The first length bytes (0 to 255) of a device's inquiry page 0x83, or
    None for a device the kernel does not know (the library then writes
    nothing: a page's second byte is always 0x83, so a buffer of 0xff bytes
    that stays so was not written)."""
    if not 0 <= length <= 255:
        raise ValueError("length must be 0 to 255")
    buffer = ctypes.create_string_buffer(b"\xff" * max(length, 1), max(length, 1))
    ref = ctypes.c_void_p(ctypes.addressof(buffer))
    _check(_n.GetVPD83(_arg(device_uid, "device_uid"), ctypes.byref(ref), length), f"device {device_uid}")
    page = buffer.raw[:length]
    if length >= 2 and page == b"\xff" * length:
        return None
    return page


def is_nextgen_nvme(device_uid: str) -> bool:
    """True for an NVMe device on the next-generation storage stack."""
    result = ctypes.c_uint8()
    _check(_n.IsNextgenNvme(_arg(device_uid, "device_uid"), ctypes.byref(result)), f"device {device_uid}")
    return bool(result.value)


def rescan_adapter(adapter: str) -> None:
    """Asks the kernel to rescan an adapter and delete its dead paths.

    Raises HyxError (HYX_BAD_PARAM) for a name that is not 1 to 31
    characters; NotOnHost off the Hyxkernel; the kernel's refusal."""
    _check(_n.RescanDeletePaths(_arg(adapter, "adapter")), f"adapter {adapter}")


# ---- VM mapping ----------------------------------------------------------------


@dataclass(frozen=True)
class VmInfo:
    """The virtual machine a world belongs to: its uuid and instance uuid
    (None when the host gives none that parses) and its whole configuration
    path."""

    uuid: _uuid.UUID | None
    instance_uuid: _uuid.UUID | None
    config_path: str


def _parse_uuid(text: str) -> _uuid.UUID | None:
    digits = "".join(c for c in text if c not in " -{}")
    try:
        return _uuid.UUID(hex=digits)
    except ValueError:
        return None


def vm_for_world(world_id: int) -> VmInfo:
    """The VM of the world world_id (its group leader's VM): uuid, instance
    uuid and whole configuration path.

    Raises NotFound (as the kernel says) for a world without a VM;
    NotOnHost off the Hyxkernel or when its interface differs."""
    uuid_buffer = ctypes.create_string_buffer(129)
    instance_buffer = ctypes.create_string_buffer(129)
    path_buffer = ctypes.create_string_buffer(1985)
    _check(_n.VmMapWorldIdToUUIDAndPath(world_id, uuid_buffer, path_buffer), f"world {world_id}")
    _check(_n.VmMapWorldIdToInstanceUUIDAndPath(world_id, instance_buffer, None), f"world {world_id}")
    return VmInfo(
        _parse_uuid(uuid_buffer.value.decode(errors="replace")),
        _parse_uuid(instance_buffer.value.decode(errors="replace")),
        path_buffer.value.decode(errors="replace"),
    )


# ---- NVDIMM ------------------------------------------------------------------


@dataclass(frozen=True)
class NvdimmCapabilities:
    """The NVDIMM driver's capabilities."""

    max_namespaces: int
    min_namespace_size: int
    supported_features: int


def nvdimm_capabilities() -> NvdimmCapabilities:
    """The NVDIMM driver's capabilities.

    Raises HyxError (HYX_FAILURE) when the device cannot be opened, or the
    driver's errno as a status."""
    record = _n.NvdDriverCapabilities()
    _check(_n.NvdGetDriverCapabilities(ctypes.byref(record)), "NVDIMM capabilities")
    return NvdimmCapabilities(record.maxNamespaces, record.minNamespaceSize, record.supportedFeatures)


# ---- Observations, traps and events -------------------------------------------


class Severity(enum.IntEnum):
    """How grave an observation is."""

    INFO = 1
    WARNING = 2
    ERROR = 3


def notify(severity: Severity | int, component: str, kb: str, text: str) -> None:
    """Sends an observation to the host's observation daemon.

    Raises NotReady when no daemon listens; HyxError (HYX_NAME_TOO_LONG) for
    a component over 31 bytes, (HYX_LIMIT_EXCEEDED) for a kb over 511 bytes
    or a text over 511 bytes, (HYX_BAD_PARAM) for an empty field."""
    context = _n.HobContext()
    context.severity = int(severity)
    parts = (("component", component, 32), ("kb", kb, 512))
    for field, value, size in parts:
        raw = _arg(value, field)
        # A value that does not fit is handed over without its NUL, for the
        # library to refuse.
        ctypes.memmove(ctypes.addressof(context) + getattr(_n.HobContext, field).offset, raw[:size], min(len(raw), size))
    _check(_n.HobNotify(ctypes.byref(context), b"%s", ctypes.c_char_p(_arg(text, "text"))), "observation")


class SnmpType(enum.IntEnum):
    """Value types of a trap's variable binding."""

    INTEGER = 0
    OCTET_STRING = 1
    OBJECT_ID = 2
    GAUGE = 3
    TIMETICKS = 4


@dataclass(frozen=True)
class VarBind:
    """One variable binding: dotted OID, type, value as text."""

    oid: str
    type: SnmpType | int
    value: str


def configure_traps(large: bool) -> None:
    """Raises (large=True) or restores the trap size limit (65507 instead of
    1472 bytes of OIDs and values) for the whole process."""
    _check(_n.SnmpConfigure(1 if large else 0), "trap configuration")


def send_trap(trap_oid: str, bindings: Sequence[VarBind | tuple[str, int, str]] = ()) -> None:
    """Raises an enterprise-specific trap (the enterprise OID and the trap
    number) through the SNMP agent's spool.

    Raises Throttled inside the 10-second window; NotReady when no agent
    listens; HyxError (HYX_BAD_PARAM) for a malformed OID or binding,
    (HYX_RESULT_TOO_LARGE) over the size limit."""
    records = (_n.SnmpVarBind * max(len(bindings), 1))()
    for i, binding in enumerate(bindings):
        oid, kind, value = (binding.oid, binding.type, binding.value) if isinstance(binding, VarBind) else binding
        records[i].oid = _arg(oid, "oid")
        records[i].type = int(kind)
        records[i].value = _arg(value, "value")
    status = _n.SnmpSendTrap(_arg(trap_oid, "trap_oid"), records, len(bindings))
    _check_throttled(status, "trap")


def _status_is(status: int, name: str) -> bool:
    return status != _OK and status_name(status) == name


def _check_throttled(status: int, context: str) -> None:
    if _status_is(status, "HYX_LIMIT_EXCEEDED"):
        raise Throttled(status, context)
    _check(status, context)


def _milliseconds(getter: object, what: str) -> datetime.timedelta:
    value = ctypes.c_uint32()
    _check(getter(ctypes.byref(value)), what)  # type: ignore[operator]
    return _MILLISECOND * value.value


def trap_throttle_remaining() -> datetime.timedelta:
    """How long until the next trap would pass (zero: now)."""
    return _milliseconds(_n.SnmpGetThrottlingRemaining, "trap throttle")


def trap_throttle_period() -> datetime.timedelta:
    """The trap throttle's period (10 seconds)."""
    return _milliseconds(_n.SnmpGetThrottlingPeriod, "trap throttle")


class EventSeverity(enum.IntEnum):
    """How grave an event is."""

    INFO = 0
    WARNING = 1
    ERROR = 2


def post_event(event_type_id: str, severity: EventSeverity | int = EventSeverity.INFO,
               args: Mapping[str, str] | None = None) -> None:
    """Posts an event into the management daemon's event log, with its
    arguments as key and value texts.

    Raises Throttled inside the 5-minute window; HyxError (HYX_FAILURE) when
    the daemon cannot be reached or refuses, (HYX_BAD_PARAM) for a severity
    above 2 or too many arguments or bytes."""
    items = list((args or {}).items())
    records = (_n.LumEventArg * max(len(items), 1))()
    for i, (key, value) in enumerate(items):
        records[i].key = _arg(key, "key")
        records[i].value = _arg(value, "value")
    status = _n.LumEventSend(_arg(event_type_id, "event_type_id"), int(severity), records, len(items))
    _check_throttled(status, "event")


def event_throttle_remaining() -> datetime.timedelta:
    """How long until the next event would pass (zero: now)."""
    return _milliseconds(_n.LumEventGetThrottlingRemaining, "event throttle")


def event_throttle_period() -> datetime.timedelta:
    """The event throttle's period (5 minutes)."""
    return _milliseconds(_n.LumEventGetThrottlingPeriod, "event throttle")


# ---- HXFS volumes and heartbeats -------------------------------------------------


@dataclass(frozen=True)
class HostRecord:
    """One host's heartbeat record on a volume."""

    mac: str
    time_stamp: int
    state: int
    uuid: _uuid.UUID


def is_hxfs(path: str | os.PathLike[str]) -> bool:
    """True when the volume holding path is HXFS.

    Raises HyxError (HYX_BAD_PARAM) when the volume has no device in the
    host's device directories, or the errno of a failed open or read."""
    value = ctypes.c_uint32()
    _check(_n.HxfsIsHXFSVolume(_arg(path, "path"), ctypes.byref(value)), f"volume of {os.fspath(path)}")
    return bool(value.value)


def _host_record(info: ctypes.c_void_p) -> HostRecord:
    mac = (ctypes.c_uint8 * 6)()
    stamp = ctypes.c_uint64()
    state = ctypes.c_uint32()
    raw = (ctypes.c_uint8 * 16)()
    _check(_n.HxfsGetMacAddr(info, mac), "host record")
    _check(_n.HxfsGetTimeStamp(info, ctypes.byref(stamp)), "host record")
    _check(_n.HxfsGetState(info, ctypes.byref(state)), "host record")
    _check(_n.HxfsGetUUID(info, raw), "host record")
    return HostRecord(_mac(mac), stamp.value, state.value, _uuid.UUID(bytes=bytes(raw)))


class Heartbeats:
    """One reading of a volume's heartbeat region: iterates the held slots'
    records in slot order and ends itself after the last.  Usable in `with`;
    close() ends it early."""

    def __init__(self, path: str | os.PathLike[str]) -> None:
        self._iter = ctypes.c_void_p()
        _check(_n.HxfsIterBegin(_arg(path, "path"), ctypes.byref(self._iter)), f"heartbeats of {os.fspath(path)}")

    def __iter__(self) -> Iterator[HostRecord]:
        return self

    def __next__(self) -> HostRecord:
        if not self._iter:
            raise StopIteration
        info = ctypes.c_void_p()
        status = _n.HxfsIterNext(self._iter, ctypes.byref(info))
        if _status_is(status, "HYX_NOT_FOUND"):
            self.close()
            raise StopIteration
        try:
            _check(status, "heartbeats")
            return _host_record(info)
        except BaseException:
            self.close()
            raise

    def host(self, host_uuid: _uuid.UUID) -> HostRecord | None:
        """The newest record carrying host_uuid (free slots included), or None."""
        if not self._iter:
            raise ValueError("the heartbeat reading is closed")
        info = ctypes.c_void_p()
        raw = (ctypes.c_uint8 * 16).from_buffer_copy(host_uuid.bytes)
        status = _n.HxfsGetHostInfo(self._iter, raw, ctypes.byref(info))
        if _status_is(status, "HYX_NOT_FOUND"):
            return None
        _check(status, "heartbeats")
        return _host_record(info)

    def close(self) -> None:
        """Ends the reading (again is harmless)."""
        if self._iter:
            _n.HxfsIterEnd(ctypes.byref(self._iter))
            self._iter = ctypes.c_void_p()

    @property
    def closed(self) -> bool:
        """True once the reading has ended."""
        return not self._iter

    def __enter__(self) -> Heartbeats:
        return self

    def __exit__(self, kind: type[BaseException] | None, value: BaseException | None,
                 traceback: TracebackType | None) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:  # the interpreter is shutting down
            pass


def heartbeats(path: str | os.PathLike[str]) -> Heartbeats:
    """Reads the heartbeat region of the HXFS volume holding path: an
    iterator of HostRecord that ends itself, usable in `with`.

    Raises HyxError (HYX_BAD_PARAM) when the volume is not HXFS,
    (HYX_NOT_SUPPORTED) for a geometry that cannot be read, (HYX_READ_ERROR)
    when the region ends early."""
    return Heartbeats(path)


def verify_lock(fd: int, flag: int = 0) -> datetime.timedelta:
    """Time left on the lock of the file open at fd (asked with the flag byte).

    Raises HyxError (HYX_TIMEOUT) when the lock time has passed, or the file
    system's refusal."""
    remaining = ctypes.c_int64()
    _check(_n.HxfsVerifyLock(fd, flag, ctypes.byref(remaining)), "lock")
    return _MILLISECOND * remaining.value


def host_uuid() -> _uuid.UUID:
    """This host's UUID, the one its heartbeats carry.

    Raises NotOnHost off the Hyxkernel or when its interface differs."""
    raw = (ctypes.c_uint8 * 16)()
    _check(_n.HxfsGetHostUUID(raw), "host uuid")
    return _uuid.UUID(bytes=bytes(raw))


# ---- PAM -------------------------------------------------------------------------


def pam_check(user: str, password: str, service: str = "login", *, silent: bool = False,
              account: bool = True) -> None:
    """Checks user's password (and with account=True the account) through
    the host's PAM service; returns when PAM accepts.

    Raises NotFound for a user PAM does not know; PermissionDenied for any
    other refusal (status and name say PAM's answer); HyxError (HYX_FAILURE)
    when libpam cannot be loaded."""
    secret = ctypes.create_string_buffer(_arg(password, "password"))  # kept until the end
    handle = ctypes.c_void_p()
    status = _n.PamStart(_arg(service, "service"), _arg(user, "user"), secret, ctypes.byref(handle))
    try:
        if status == _OK:
            status = _n.PamAuthenticate(handle, 1 if silent else 0)
        if status == _OK and account:
            status = _n.PamAcctMgmt(handle, 1 if silent else 0)
    finally:
        if handle.value:
            _n.PamEnd(handle)
        ctypes.memset(secret, 0, len(secret))
    if status != _OK:
        kind = _error_class(status)
        if kind is HyxError and status_pam_value(status) is not None and not _status_is(status, "HYX_FAILURE"):
            kind = PermissionDenied
        raise kind(status, f"PAM check of {user}")


# ---- Processes ----------------------------------------------------------------------


def _vector(items: Sequence[str | bytes] | None, what: str) -> ctypes.Array[ctypes.c_char_p] | None:
    if items is None:
        return None
    array = (ctypes.c_char_p * (len(items) + 1))()
    for i, item in enumerate(items):
        array[i] = _arg(item, what)
    return array


def fork_exec(path: str | os.PathLike[str], argv: Sequence[str | bytes],
              env: Mapping[str, str] | None = None, fd_map: Sequence[int] | None = None) -> int:
    """Starts path with argv (at least the program name) through the
    kernel's fork-exec call and returns the child's pid (wait for it with
    wait()).  env replaces the environment (None: the caller's); fd_map[i]
    is the caller's descriptor that becomes descriptor i of the child.

    Raises NotOnHost off the Hyxkernel; HyxError (HYX_NOT_EXEC and others)
    for a file that is neither a program nor a usable "#!" script,
    NotFound for one that does not exist."""
    if not argv:
        raise ValueError("argv needs at least the program name")
    args = _vector(argv, "argv")
    environment = _vector([f"{k}={v}" for k, v in env.items()], "env") if env is not None else None
    descriptors = (ctypes.c_int32 * len(fd_map))(*fd_map) if fd_map else None
    pid = ctypes.c_int32()
    status = _n.ForkExec(_arg(path, "path"), args, environment, -1, descriptors, len(fd_map or ()),
                         0xFFFFFFFF, 0xFFFFFFFF, 0, ctypes.byref(pid))
    _check(status, f"start {os.fspath(path)}")
    return pid.value


def wait(pid: int) -> int:
    """Waits for the child pid and returns its exit status: the exit code,
    or minus the signal that ended it."""
    _, status = os.waitpid(pid, 0)
    return os.waitstatus_to_exitcode(status)


def system(command: str, *, resource_group: str | None = None, mem_mb: int | None = None) -> int:
    """Runs command with "/bin/sh -c" and waits for it: the exit code, or
    minus the signal that ended it.  With resource_group the shell starts in
    that resource group (and with mem_mb under that memory limit).

    Raises NotOnHost off the Hyxkernel; HyxError when the shell cannot be
    started."""
    wait_status = ctypes.c_int()
    if resource_group is None:
        if mem_mb is not None:
            raise ValueError("mem_mb needs a resource_group")
        _check(_n.System(_arg(command, "command"), ctypes.byref(wait_status)), "system")
    else:
        attr = _n.SpawnAttrP()
        _check(_n.SpawnAttrInit(ctypes.byref(attr)), "spawn attributes")
        try:
            flags = 0x100  # use the resource group
            _check(_n.SpawnAttrSetRP(attr, _arg(resource_group, "resource_group")), "resource group")
            if mem_mb is not None:
                flags |= 0x200  # and the memory limit
                _check(_n.SpawnAttrSetMemMB(attr, mem_mb), "memory limit")
            _check(_n.SpawnAttrSetFlags(attr, flags), "spawn attributes")
            _check(_n.System_SpawnAttrs(attr, _arg(command, "command"), ctypes.byref(wait_status)), "system")
        finally:
            _n.SpawnAttrDestroy(attr)
    return os.waitstatus_to_exitcode(wait_status.value)
