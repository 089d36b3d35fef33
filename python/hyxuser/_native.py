"""The loaded libhyxuser.so and its exports, each bound by its symbol version.

Every export is looked up with dlvsym under the version node a C program
linked against that version records, so an export kept under several nodes
is called exactly as such a program calls it.  Nothing here holds state but
the loaded library and the bound functions.
"""

from __future__ import annotations

import ctypes
import os
import sys
from pathlib import Path
from typing import Any

LIBRARY_ENV = "HYXUSER_LIBRARY"
LIBRARY_NAME = "libhyxuser.so"


def _candidates() -> list[str]:
    """Where the library is looked for: HYXUSER_LIBRARY, else beside the
    package's prefix (its lib directories), else the dynamic loader's own
    search."""
    named = os.environ.get(LIBRARY_ENV)
    if named:
        return [named]
    found: list[str] = []
    package = Path(__file__).resolve().parent
    multiarch = getattr(sys.implementation, "_multiarch", None)
    for prefix in package.parents:
        libdirs = [prefix / "lib", prefix / "lib64"]
        if multiarch:
            libdirs.insert(0, prefix / "lib" / multiarch)
        for libdir in libdirs:
            path = libdir / LIBRARY_NAME
            if path.is_file():
                found.append(str(path))
        if found:
            break
    found.append(LIBRARY_NAME)
    return found


def _load() -> ctypes.CDLL:
    errors = []
    for candidate in _candidates():
        try:
            return ctypes.CDLL(candidate)
        except OSError as error:
            errors.append(str(error))
    raise ImportError("hyxuser: cannot load " + LIBRARY_NAME + " (set " + LIBRARY_ENV + "): " + "; ".join(errors))


lib = _load()
# The process's global scope: the free and dlvsym the library itself binds to.
_process = ctypes.CDLL(None)
_dlvsym = _process.dlvsym
_dlvsym.restype = ctypes.c_void_p
_dlvsym.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p]
libc_free = _process.free
libc_free.restype = None
libc_free.argtypes = [ctypes.c_void_p]

Status = ctypes.c_uint32


# Every binding made, as (export name, version node): the tests hold them to
# the library's own list.
BINDINGS: list[tuple[str, str]] = []


def bind(name: str, version: str, restype: Any, *argtypes: Any) -> Any:
    """The export name@version as a callable with the given C types.  A
    variadic export takes further arguments after the typed ones, as
    ctypes objects."""
    address = _dlvsym(lib._handle, name.encode(), version.encode())
    if not address:
        raise ImportError(f"hyxuser: {LIBRARY_NAME} has no {name}@{version}")
    BINDINGS.append((name, version))
    return ctypes.CFUNCTYPE(restype, *argtypes)(address)


# Version nodes, as the library's binary interface names them.
V = "NORVEX_HYXUSERVERSION_"
COMPAT = "NORVEX_HYXUSERCOMPAT_"
STATUS_0_0 = "NORVEX_HYXUSERSTATUS_0.0"
TIME_0_8 = "NORVEX_HYXUSERTIME_0.8"
SMBIOS_0_1 = "NORVEX_HYXUSERSMBIOS_0.1"
NET_0_5 = "NORVEX_HYXUSERNET_0.5"
SOCKET_0_0 = "NORVEX_HYXUSERSOCKET_0.0"
SOCKET_0_1 = "NORVEX_HYXUSERSOCKET_0.1"
STORAGE_0_1 = "NORVEX_HYXUSERSTORAGE_0.1"
STORAGE_0_2 = "NORVEX_HYXUSERSTORAGE_0.2"

c_char_pp = ctypes.POINTER(ctypes.c_char_p)
c_u8_p = ctypes.POINTER(ctypes.c_uint8)
c_u32_p = ctypes.POINTER(ctypes.c_uint32)
c_u64_p = ctypes.POINTER(ctypes.c_uint64)
c_int_p = ctypes.POINTER(ctypes.c_int)


# ---- Records, byte for byte as the library lays them out -------------------


class SystemVersion(ctypes.Structure):
    _fields_ = [
        ("product", ctypes.c_char * 32),
        ("productVersion", ctypes.c_char * 32),
        ("buildVersion", ctypes.c_char * 32),
        ("buildDate", ctypes.c_char * 32),
        ("buildTime", ctypes.c_char * 32),
        ("build", ctypes.c_uint32),
    ]


class UniqueSystemVersion(ctypes.Structure):
    _fields_ = [
        ("product", ctypes.c_char * 32),
        ("productVersion", ctypes.c_char * 32),
        ("buildType", ctypes.c_char * 32),
        ("buildDate", ctypes.c_char * 32),
        ("buildTime", ctypes.c_char * 32),
        ("releaseUpdate", ctypes.c_char * 32),
        ("releasePatch", ctypes.c_char * 32),
        ("build", ctypes.c_uint32),
    ]


class PnicInfo(ctypes.Structure):
    _fields_ = [
        ("name", ctypes.c_char * 128),
        ("linkSpeed", ctypes.c_uint32),
        ("hwCapSupported", ctypes.c_uint32),
        ("hwCapActivated", ctypes.c_uint32),
        ("linkUp", ctypes.c_uint8),
        ("macAddress", ctypes.c_uint8 * 6),
        ("reserved147", ctypes.c_uint8),
    ]


class TcpipInterface(ctypes.Structure):
    _fields_ = [
        ("tsoMss", ctypes.c_uint64),
        ("mtu", ctypes.c_uint64),
        ("macAddress", ctypes.c_uint8 * 6),
        ("reserved22", ctypes.c_uint8 * 2),
        ("ipv4Address", ctypes.c_uint64),
        ("ipv4Netmask", ctypes.c_uint64),
        ("name", ctypes.c_char * 128),
    ]


class HobContext(ctypes.Structure):
    _fields_ = [
        ("severity", ctypes.c_uint32),
        ("component", ctypes.c_char * 32),
        ("kb", ctypes.c_char * 512),
    ]


class SnmpVarBind(ctypes.Structure):
    _fields_ = [("oid", ctypes.c_char_p), ("type", ctypes.c_uint32), ("value", ctypes.c_char_p)]


class LumEventArg(ctypes.Structure):
    _fields_ = [("key", ctypes.c_char_p), ("value", ctypes.c_char_p)]


class NvdDriverCapabilities(ctypes.Structure):
    _pack_ = 1
    _fields_ = [
        ("maxNamespaces", ctypes.c_uint32),
        ("minNamespaceSize", ctypes.c_uint64),
        ("supportedFeatures", ctypes.c_uint32),
    ]


class SpawnAttr(ctypes.Structure):
    pass  # opaque here: made and released by the library


for _record, _size in (
    (SystemVersion, 164),
    (UniqueSystemVersion, 228),
    (PnicInfo, 148),
    (TcpipInterface, 168),
    (HobContext, 548),
    (NvdDriverCapabilities, 16),
):
    assert ctypes.sizeof(_record) == _size, _record.__name__

SpawnAttrP = ctypes.POINTER(SpawnAttr)
c_void_pp = ctypes.POINTER(ctypes.c_void_p)

# ---- Exports ----------------------------------------------------------------
S = Status
u32, u64, i32, u8 = ctypes.c_uint32, ctypes.c_uint64, ctypes.c_int32, ctypes.c_uint8
cp, vp = ctypes.c_char_p, ctypes.c_void_p

CodeToString = bind("HyxuserStatus_CodeToString", STATUS_0_0, S, S, cp, u32, c_int_p)
CodeToErrno = bind("HyxuserStatus_CodeToErrno", STATUS_0_0, S, S, c_int_p)
CodeToPamReturnValue = bind("HyxuserStatus_CodeToPamReturnValue", V + "0.23", i32, S)

SpawnAttrInit = bind("HyxuserCompat_SpawnAttrInit", V + "0.22", S, ctypes.POINTER(SpawnAttrP))
SpawnAttrDestroy = bind("HyxuserCompat_SpawnAttrDestroy", V + "0.22", S, SpawnAttrP)
SpawnAttrSetFlags = bind("HyxuserCompat_SpawnAttrSetFlags", V + "0.22", S, SpawnAttrP, u32)
SpawnAttrSetRP = bind("HyxuserCompat_SpawnAttrSetRP", V + "0.22", S, SpawnAttrP, cp)
SpawnAttrSetMemMB = bind("HyxuserCompat_SpawnAttrSetMemMB", V + "0.22", S, SpawnAttrP, u64)

ForkExec = bind(
    "HyxuserCompat_ForkExec",
    COMPAT + "0.2",
    S,
    cp,
    c_char_pp,
    c_char_pp,
    i32,
    ctypes.POINTER(i32),
    u32,
    u32,
    u32,
    u8,
    ctypes.POINTER(ctypes.c_int32),
)
System = bind("HyxuserCompat_System", COMPAT + "0.3", S, cp, c_int_p)
System_SpawnAttrs = bind("HyxuserCompat_System_SpawnAttrs", COMPAT + "0.6", S, SpawnAttrP, cp, c_int_p)

VerifyHSISigniture = bind("HyxuserCompat_VerifyHSISigniture", COMPAT + "0.5", S)
GetSystemVersion = bind("HyxuserVersion_GetSystemVersion", V + "0.9", S, ctypes.POINTER(SystemVersion))
GetUniqueSystemVersion = bind(
    "HyxuserVersion_GetUniqueSystemVersion", V + "0.18", S, ctypes.POINTER(UniqueSystemVersion)
)
GetUptime = bind("HyxuserUptime_GetUptime", TIME_0_8, S, c_u64_p)

AcpiGetTableLength = bind("HyxuserAcpi_GetTableLengthBySignature", V + "0.21", S, cp, u32, vp)
AcpiGetTable = bind("HyxuserAcpi_GetTableBySignature", V + "0.21", S, cp, u32, vp, ctypes.c_size_t)
SmbiosGetDataLen = bind("HyxuserSMBIOS_GetDataLen", SMBIOS_0_1, S, vp)
SmbiosGetData = bind("HyxuserSMBIOS_GetData", SMBIOS_0_1, S, vp, u32)
NativeSocketFamily = bind("HyxuserSocket_NativeSocketFamily", SOCKET_0_0, S, c_int_p)

UefiGetVariableList = bind(
    "HyxuserUefi_GetVariableList", V + "0.25", S, ctypes.POINTER(ctypes.POINTER(ctypes.c_void_p)), c_u32_p
)
UefiGetVariable = bind("HyxuserUefi_GetVariable", V + "0.25", S, cp, c_u32_p, c_u64_p, c_void_pp)
UefiSetVariable = bind("HyxuserUefi_SetVariable", V + "0.25", S, cp, u32, u64, vp)
UefiRemoveVariable = bind("HyxuserUefi_RemoveVariable", V + "0.25", S, cp)

GetPnics = bind("HyxuserNet_GetPnics", NET_0_5, S, ctypes.POINTER(PnicInfo), u32, c_u32_p)
GetInterfaces = bind("HyxuserTcpip_GetInterfaces", SOCKET_0_1, S, ctypes.POINTER(TcpipInterface), u32, c_u32_p)

HobNotify = bind("HyxuserHob_Notify", V + "0.12", S, ctypes.POINTER(HobContext), cp)

SnmpConfigure = bind("HyxuserSnmp_Configure", V + "0.26", S, u32)
SnmpSendTrap = bind("HyxuserSnmp_SendTrap", V + "0.26", S, cp, ctypes.POINTER(SnmpVarBind), u64)
SnmpGetThrottlingRemaining = bind("HyxuserSnmp_GetThrottlingRemaining", V + "0.26", S, c_u32_p)
SnmpGetThrottlingPeriod = bind("HyxuserSnmp_GetThrottlingPeriod", V + "0.26", S, c_u32_p)

GetBusSlotFunction = bind(
    "HyxuserStorage_GetBusSlotFunctionForHyxkernelAdapterIdentifier", STORAGE_0_1, S, cp, c_u32_p, c_u32_p, c_u32_p
)
MapBusSlotFunc = bind(
    "HyxuserStorage_MapBusSlotFuncToHyxkernelAdapterIdentifier", STORAGE_0_1, S, u32, u32, u32, vp, ctypes.c_int
)
GetActiveDeviceUIDs = bind(
    "HyxuserStorage_GetActiveDeviceUIDsFromHyxkernelAdapterIdentifier", STORAGE_0_1, S, cp, c_void_pp, u32, c_u32_p
)
GetAllChannelsTargetsLuns = bind(
    "HyxuserStorage_GetAllChannelsTargetsLunsForHyxkernelDeviceUID",
    STORAGE_0_1,
    S,
    cp,
    c_void_pp,
    c_void_pp,
    c_void_pp,
    c_void_pp,
    u32,
    c_int_p,
)
GetVPD83 = bind("HyxuserStorage_GetVPD83ForHyxkernelDeviceUID", STORAGE_0_1, S, cp, c_void_pp, ctypes.c_int)
IsNextgenNvme = bind("HyxuserStorage_IsNextgenNvmeHyxkernelDeviceUID", STORAGE_0_2, S, cp, c_u8_p)
RescanDeletePaths = bind("HyxuserStorage_RescanDeletePathsOnHyxkernelAdapter", STORAGE_0_1, S, cp)

NvdGetDriverCapabilities = bind(
    "HyxuserNVD_GetDriverCapabilities", V + "0.20", S, ctypes.POINTER(NvdDriverCapabilities)
)

VmMapWorldIdToUUIDAndPath = bind("HyxuserVM_MapWorldIdToUUIDAndPath_0_24", V + "0.24", S, u32, vp, vp)
# The instance uuid: from 0.24 on the instance mapping gives the plain uuid.
VmMapWorldIdToInstanceUUIDAndPath = bind("HyxuserVM_MapWorldIdToInstanceUUIDAndPath", V + "0.16", S, u32, vp, vp)

InCOS = bind("HyxuserCompat_InCOS", COMPAT + "0.0", S, c_int_p)

LumEventSend = bind("HyxuserLumEvent_Send", V + "0.27", S, cp, u32, ctypes.POINTER(LumEventArg), u64)
LumEventGetThrottlingRemaining = bind("HyxuserLumEvent_GetThrottlingRemaining", V + "0.27", S, c_u32_p)
LumEventGetThrottlingPeriod = bind("HyxuserLumEvent_GetThrottlingPeriod", V + "0.27", S, c_u32_p)

HxfsIsHXFSVolume = bind("HyxuserHXFS_IsHXFSVolume", V + "0.13", S, cp, c_u32_p)
HxfsIterBegin = bind("HyxuserHXFS_ActiveHostIterBegin", V + "0.13", S, cp, c_void_pp)
HxfsIterNext = bind("HyxuserHXFS_ActiveHostIterNext", V + "0.13", S, vp, c_void_pp)
HxfsGetHostInfo = bind("HyxuserHXFS_GetHostInfo", V + "0.13", S, vp, vp, c_void_pp)
HxfsIterEnd = bind("HyxuserHXFS_ActiveHostIterEnd", V + "0.13", S, c_void_pp)
HxfsGetMacAddr = bind("HyxuserHXFS_GetMacAddr", V + "0.13", S, vp, vp)
HxfsGetTimeStamp = bind("HyxuserHXFS_GetHostInfoTimeStamp", V + "0.13", S, vp, c_u64_p)
HxfsGetState = bind("HyxuserHXFS_GetHostInfoState", V + "0.13", S, vp, c_u32_p)
HxfsGetUUID = bind("HyxuserHXFS_GetHostInfoUUID", V + "0.13", S, vp, vp)
HxfsVerifyLock = bind("HyxuserHXFS_VerifyLock", V + "0.13", S, ctypes.c_int, u8, ctypes.POINTER(ctypes.c_int64))
HxfsGetHostUUID = bind("HyxuserHXFS_GetHostUUID", V + "0.13", S, vp)

PamStart = bind("HyxuserPam_Start", V + "0.23", S, cp, cp, cp, c_void_pp)
PamEnd = bind("HyxuserPam_End", V + "0.23", S, vp)
PamAuthenticate = bind("HyxuserPam_Authenticate", V + "0.23", S, vp, ctypes.c_int)
PamAcctMgmt = bind("HyxuserPam_Acct_Mgmt", V + "0.23", S, vp, ctypes.c_int)
