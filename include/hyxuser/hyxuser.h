/*
 * libhyxuser: user-space access to the Hyxkernel and the host's local services.
 *
 * Every function returns a HYX_ReturnStatus (HYX_OK on success) unless its
 * comment says otherwise.  Outputs go through pointer arguments; memory the
 * library hands out comes from malloc and is released with free.
 *
 * How the exports are documented (the manual pages are generated from it):
 * the header has one section per family, headed "---- Title ----".  A
 * comment that ends right above one or more declarations documents them; a
 * comment followed by a blank line describes the family or the records
 * below it.  The end of an export's comment holds tagged lines:
 *   Returns: the statuses it gives, each with when.
 *   Frees:   who releases what it hands out (only where something is).
 *   Gated:   yes when it answers the load-time check's failure status
 *            before doing anything (see HyxuserCompat_VerifyHSISigniture),
 *            no otherwise.
 * A tag runs on to the next tag or the end of the comment.
 */
#ifndef HYXUSER_HYXUSER_H
#define HYXUSER_HYXUSER_H

/*
 * The header is C11 and C++ alike.  It needs the POSIX declarations of
 * sigset_t, pid_t, uid_t and gid_t: a strict ISO C build (-std=c11) defines
 * _POSIX_C_SOURCE to 200809L before including it; other builds get them by
 * default.
 */
#include <signal.h>
#include <stdint.h>
#include <sys/types.h>

#if !defined(__cplusplus) && !defined(_POSIX_C_SOURCE)
#error "hyxuser.h needs POSIX declarations (sigset_t, pid_t): define _POSIX_C_SOURCE to 200809L"
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define HYXUSER_API __attribute__((visibility("default")))

/* The version of the library this header belongs to (also the version of
 * hyxuser.pc and of the CMake package). */
#define HYXUSER_VERSION_MAJOR 0
#define HYXUSER_VERSION_MINOR 1
#define HYXUSER_VERSION_PATCH 0

typedef uint32_t HYX_ReturnStatus;

/* Kernel status codes: HYX_OK is 0, every other row is 0x0bad0000 + n. */
enum {
#define HYX_STATUS(n, name, err, msg) name = (n) ? 0x0bad0000 + (n) : 0,
#include "hyxuser/hyxuser_status.def"
#undef HYX_STATUS
};

/* A code 0x2bad0000 + e carries the libc errno e. */
#define HYX_ERRNO_STATUS_BASE 0x2bad0000u

/* ---- Status ------------------------------------------------------------ */

/*
 * Writes the text of status into buffer with snprintf semantics: at most
 * bufferSize bytes, NUL-terminated, cut when too long.  textLength, if not
 * null, receives the length of the whole text.
 * Returns: HYX_OK for a known code; HYX_FAILURE when status is unknown (the
 * text then says so).
 * Gated: no.
 */
HYXUSER_API HYX_ReturnStatus HyxuserStatus_CodeToString(HYX_ReturnStatus status, char *buffer,
                                                        uint32_t bufferSize, int *textLength);

/* Stores the errno that status converts to (0x2bad0000 + e gives e).
 * Returns: HYX_OK; HYX_FAILURE, with 22 (EINVAL) stored, when the code has
 * no errno.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserStatus_CodeToErrno(HYX_ReturnStatus status, int *errnoOut);

/* The PAM return value that status stands for.
 * Returns: the PAM value (PAM_SUCCESS for HYX_OK), or -1 when status has
 * none; no HYX_ReturnStatus.
 * Gated: no. */
HYXUSER_API int32_t HyxuserStatus_CodeToPamReturnValue(HYX_ReturnStatus status);

/* ---- Spawn attributes and file actions ---------------------------------- */

/*
 * How a child is to be set up.  The kernel reads these records itself, so
 * their layouts are fixed byte for byte (64-bit targets).  Create them with
 * the Init functions and release them with the Destroy functions.
 */
typedef struct HyxuserSpawnAttr {
  uint32_t flags;       /* bits below; all others go to the kernel as given */
  int32_t pgid;         /* process group for the child */
  int32_t workingDirFd; /* directory the child starts in; -1 = not set */
  uint32_t uid;         /* user id; 0xFFFFFFFF = not set */
  uint32_t gid;         /* group id; 0xFFFFFFFF = not set */
  uint8_t reserved20[4];
  uint32_t securityDomain;
  uint8_t reserved28[4];
  uint64_t sigDefault; /* signals reset to default: signal n is bit n-1 */
  uint64_t sigMask;    /* the child's blocked signals, same encoding */
  char *resourceGroup; /* owned copy, or null */
  uint64_t memMB;      /* memory limit in megabytes */
} HyxuserSpawnAttr;

/* Flags the library itself reads (the shell functions build the group
 * argument from them).  Setting the group or the limit does not set them. */
#define HYXUSER_SPAWN_SETRP 0x100u    /* use the resource group */
#define HYXUSER_SPAWN_SETMEMMB 0x200u /* also use the memory limit */

enum {
  SPAWN_FILE_ACTION_OPEN = 1,
  SPAWN_FILE_ACTION_DUP2 = 2,
};

/* One file action; kind 0 is an unused entry. */
typedef struct HyxuserSpawnFileAction {
  uint32_t kind;
  int32_t fd; /* open: the opened file's descriptor; dup2: the new one */
  union {
    char *path;       /* open: owned copy of the path */
    int32_t sourceFd; /* dup2: the descriptor duplicated (4 zero bytes follow) */
  } arg;
  uint32_t openFlags; /* open only */
  uint32_t mode;      /* open only */
} HyxuserSpawnFileAction;

typedef struct HyxuserSpawnFileActions {
  uint32_t capacity; /* 1 to 8192, fixed at Init */
  uint32_t count;    /* entries used, from index 0 */
  HyxuserSpawnFileAction *entries;
} HyxuserSpawnFileActions;

/* A new attribute record, every field not set: *attrOut receives it.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null attrOut; HYX_NO_MEMORY.
 * Frees: the caller, with HyxuserCompat_SpawnAttrDestroy.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnAttrInit(HyxuserSpawnAttr **attrOut);
/* Frees the record and the resource group it holds; null is accepted.
 * Returns: HYX_OK.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnAttrDestroy(HyxuserSpawnAttr *attr);
/* Set and read one field of the record each: flags, process group, working
 * directory descriptor, user and group ids, security domain, memory limit.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null record or output pointer.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnAttrSetFlags(HyxuserSpawnAttr *attr, uint32_t flags);
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnAttrGetFlags(const HyxuserSpawnAttr *attr, uint32_t *flags);
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnAttrSetPGID(HyxuserSpawnAttr *attr, pid_t pgid);
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnAttrGetPGID(const HyxuserSpawnAttr *attr, pid_t *pgid);
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnAttrSetWorkingDirFd(HyxuserSpawnAttr *attr, int32_t fd);
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnAttrGetWorkingDirFd(const HyxuserSpawnAttr *attr,
                                                                    int32_t *fd);
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnAttrSetUID(HyxuserSpawnAttr *attr, uid_t uid);
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnAttrGetUID(const HyxuserSpawnAttr *attr, uid_t *uid);
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnAttrSetGID(HyxuserSpawnAttr *attr, gid_t gid);
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnAttrGetGID(const HyxuserSpawnAttr *attr, gid_t *gid);
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnAttrSetSecurityDomain(HyxuserSpawnAttr *attr,
                                                                      uint32_t domain);
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnAttrGetSecurityDomain(const HyxuserSpawnAttr *attr,
                                                                      uint32_t *domain);
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnAttrSetMemMB(HyxuserSpawnAttr *attr, uint64_t memMB);
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnAttrGetMemMB(const HyxuserSpawnAttr *attr, uint64_t *memMB);

/* The signals reset to their default action, and the child's signal mask.
 * Signals 1 to 64 of set are kept; the getters clear the whole set first.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null record or set.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnAttrSetSigDefault(HyxuserSpawnAttr *attr,
                                                                  const sigset_t *set);
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnAttrGetSigDefault(const HyxuserSpawnAttr *attr,
                                                                  sigset_t *set);
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnAttrSetSigMask(HyxuserSpawnAttr *attr, const sigset_t *set);
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnAttrGetSigMask(const HyxuserSpawnAttr *attr, sigset_t *set);

/* The resource group the shell functions start a child in.  It can be set
 * once; the record keeps its own copy.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null pointer; HYX_FAILURE when
 * SetRP finds a group already set or GetRP finds none; HYX_NO_MEMORY.
 * Frees: GetRP hands out a new copy in *groupOut that the caller frees.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnAttrSetRP(HyxuserSpawnAttr *attr, const char *group);
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnAttrGetRP(const HyxuserSpawnAttr *attr, char **groupOut);

/* A new list of capacity entries (1 to 8192).  Entries apply in the order
 * they were added.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null listOut or a capacity out of
 * range; HYX_NO_MEMORY.
 * Frees: the caller, with HyxuserCompat_SpawnFileActionsDestroy.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnFileActionsInit(HyxuserSpawnFileActions **listOut,
                                                                int32_t capacity);
/* Frees the list and the paths it holds; null is accepted.
 * Returns: HYX_OK.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnFileActionsDestroy(HyxuserSpawnFileActions *list);
/* The child opens path (a copy is kept) with openFlags and mode as fd.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null list or path or a negative fd;
 * HYX_FAILURE when the list is full; HYX_NO_MEMORY.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnFileActionsAddOpen(HyxuserSpawnFileActions *list, int32_t fd,
                                                                   const char *path, uint32_t openFlags,
                                                                   uint32_t mode);
/* The child gets a copy of fd as newFd.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null list or a negative descriptor;
 * HYX_FAILURE when the list is full.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserCompat_SpawnFileActionsAddDup2(HyxuserSpawnFileActions *list, int32_t fd,
                                                                   int32_t newFd);

/* ---- Fork, exec, system and popen ------------------------------------- */

/*
 * Starts a child through the kernel's fork-exec call: program path, argument
 * vector (at least the program name), environment (null: the caller's),
 * a value passed through to the kernel (callers pass -1), a descriptor map
 * (entry i is the caller's descriptor that becomes descriptor i of the
 * child) with its length, two further kernel values (0xFFFFFFFF: none), a
 * flag byte (0) and where the kernel stores the child's pid.  path is taken
 * as it is: PATH is not searched, so a name without '/' is a file in the
 * current directory.  The child gets only the descriptors the map names: a
 * null fdMap with fdCount 0 starts it with none at all, not even standard
 * input, output and error (pass {0, 1, 2} with fdCount 3 to hand on the
 * caller's own); a negative entry leaves that descriptor closed.  A script
 * that starts with "#!" is run through its interpreter.  On failure errno is
 * the status's errno.  Programs built before the two further values existed
 * bind to an older entry of the same name without them.
 * Returns: HYX_OK; HYX_NOT_IMPLEMENTED off the Hyxkernel; HYX_BAD_PARAM for
 * a null path, argv or pid, or a null fdMap with a non-zero fdCount;
 * HYX_NOT_EXEC, HYX_NOT_FOUND, HYX_NAME_TOO_LONG or HYX_TOO_MANY_ELEMENTS
 * for a file that is neither a program nor a usable "#!" script; the
 * kernel's status otherwise.
 * Gated: no.
 */
HYXUSER_API HYX_ReturnStatus HyxuserCompat_ForkExec(const char *path, char *const argv[], char *const envp[],
                                                    int32_t passThrough, const int32_t *fdMap,
                                                    uint32_t fdCount, uint32_t extraA, uint32_t extraB,
                                                    uint8_t flag, pid_t *pid);

/*
 * Runs command with "/bin/sh -c" and waits for it; *waitStatus receives the
 * status as waitpid gives it (1 for a null command, which starts nothing).
 * SIGINT and SIGQUIT are ignored and SIGCHLD blocked while the child runs.
 * With attr and its HYXUSER_SPAWN_SETRP flag the shell is started in the
 * attribute's resource group (and memory limit, with HYXUSER_SPAWN_SETMEMMB).
 * Returns: HYX_OK once the shell has been waited for, whatever its exit;
 * HYX_BAD_PARAM for a null waitStatus; the status of a failed start
 * (as HyxuserCompat_ForkExec gives them); 0x2bad0000 + errno when a signal
 * action or the wait fails.
 * Gated: no.
 */
HYXUSER_API HYX_ReturnStatus HyxuserCompat_System(const char *command, int *waitStatus);
HYXUSER_API HYX_ReturnStatus HyxuserCompat_System_SpawnAttrs(const HyxuserSpawnAttr *attr,
                                                             const char *command, int *waitStatus);

/* A child started by POpen and the caller's end of its pipe. */
typedef struct HyxuserPOpenHandle {
  pid_t pid;
  int32_t fd;
} HyxuserPOpenHandle;

/*
 * Starts command with "/bin/sh -c", its standard output ("r") or standard
 * input ("w") connected to a pipe whose other end goes to handle->fd
 * (close-on-exec).  The _SpawnAttrs form starts the shell as System does.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null command, mode or handle or a
 * mode other than "r" and "w"; 0x2bad0000 + errno when the pipe cannot be
 * made; the status of a failed start.
 * Frees: the caller ends the child and closes the pipe with
 * HyxuserCompat_PClose.
 * Gated: no.
 */
HYXUSER_API HYX_ReturnStatus HyxuserCompat_POpen(const char *command, const char *mode,
                                                 HyxuserPOpenHandle *handle);
HYXUSER_API HYX_ReturnStatus HyxuserCompat_POpen_SpawnAttrs(const HyxuserSpawnAttr *attr, const char *command,
                                                            const char *mode, HyxuserPOpenHandle *handle);

/* Closes handle->fd and waits for the child; waitStatus may be null.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null handle; 0x2bad0000 + errno when
 * the close or the wait fails.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserCompat_PClose(const HyxuserPOpenHandle *handle, int *waitStatus);

/*
 * Hands the program, its vectors and the two records to the kernel's spawn
 * call, which stores the child's pid at pid.  A kernel error value
 * reaches errno.
 * Returns: the kernel's status; HYX_NOT_IMPLEMENTED (errno ENOSYS) off the
 * Hyxkernel.
 * Gated: no.
 */
HYXUSER_API HYX_ReturnStatus HyxuserCompat_Spawn(const char *path, char *const argv[], char *const envp[],
                                                 const HyxuserSpawnFileActions *actions,
                                                 const HyxuserSpawnAttr *attr, pid_t *pid);

/* ---- Load-time interface check ------------------------------------------ */

/* The result of the check the library makes when it is loaded: whether the
 * kernel speaks the system-information interface the library was built
 * for.  The exports marked "Gated: yes" return this status at once when it
 * is not HYX_OK.
 * Returns: HYX_OK when the kernel matches; HYX_CHECKSUM_MISMATCH otherwise
 * (also on any host that is not the Hyxkernel).
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserCompat_VerifyHSISigniture(void);

/* ---- Version and uptime ------------------------------------------------ */

typedef struct HyxuserSystemVersion {
  char product[32];
  char productVersion[32];
  char buildVersion[32];
  char buildDate[32];
  char buildTime[32];
  uint32_t build;
} HyxuserSystemVersion; /* 164 bytes */

typedef struct HyxuserUniqueSystemVersion {
  char product[32];
  char productVersion[32];
  char buildType[32];
  char buildDate[32];
  char buildTime[32];
  char releaseUpdate[32];
  char releasePatch[32];
  uint32_t build;
} HyxuserUniqueSystemVersion; /* 228 bytes */

/*
 * The host kernel's product and build; the Unique form adds the build type
 * and the release update and patch.  The record is all zeros on failure.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null record; HYX_CHECKSUM_MISMATCH
 * from the gate; the kernel's status when the version node cannot be read.
 * Gated: yes.
 */
HYXUSER_API HYX_ReturnStatus HyxuserVersion_GetSystemVersion(HyxuserSystemVersion *version);
HYXUSER_API HYX_ReturnStatus HyxuserVersion_GetUniqueSystemVersion(HyxuserUniqueSystemVersion *version);
/* Microseconds since the host started; untouched on failure.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null pointer; HYX_CHECKSUM_MISMATCH
 * from the gate; the kernel's status when the timer node cannot be read.
 * Gated: yes. */
HYXUSER_API HYX_ReturnStatus HyxuserUptime_GetUptime(uint64_t *uptime);

/* ---- Firmware tables and MSR ------------------------------------------- */

/*
 * Direct kernel calls: the kernel fills buffer and lengths, a kernel error
 * value reaches errno, the status is the kernel's.  Off the Hyxkernel they
 * give HYX_NOT_IMPLEMENTED with errno ENOSYS and call nothing.
 */

/* ACPI tables by signature (four characters, "APIC") and instance (0 for
 * the first): the table's length (a uint32_t at lengthOut), then its bytes.
 * Returns: the kernel's status (HYX_OK on success); HYX_BAD_PARAM for a null signature, lengthOut or buffer
 * or a bufferLength of 0; HYX_NOT_IMPLEMENTED off the Hyxkernel.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserAcpi_GetTableLengthBySignature(const char *signature, uint32_t instance,
                                                                   void *lengthOut);
HYXUSER_API HYX_ReturnStatus HyxuserAcpi_GetTableBySignature(const char *signature, uint32_t instance,
                                                             void *buffer, uintptr_t bufferLength);
/* The SMBIOS data block's length (a uint32_t at lengthOut), and the block.
 * Returns: the kernel's status; HYX_NOT_IMPLEMENTED off the Hyxkernel.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserSMBIOS_GetDataLen(void *lengthOut);
HYXUSER_API HYX_ReturnStatus HyxuserSMBIOS_GetData(void *buffer, uint32_t length);

/*
 * A model-specific register, which this host never offers: whatever
 * arguments a caller passes are not read.  C++ and C23 declare it as taking
 * any arguments; C before C23 has no prototype for that, so there it stays
 * declared without one.
 * Returns: HYX_UNSUPPORTED_CPU, always.
 * Gated: no.
 */
#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 202311L)
HYXUSER_API HYX_ReturnStatus HyxuserMSR_GetValue(...);
#else
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wstrict-prototypes"
HYXUSER_API HYX_ReturnStatus HyxuserMSR_GetValue();
#pragma GCC diagnostic pop
#endif

/* ---- Socket ------------------------------------------------------------- */

/* Stores the kernel's native socket address family (26) in *family.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null pointer.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserSocket_NativeSocketFamily(int *family);

/* ---- UEFI variables ------------------------------------------------------ */

/*
 * The firmware's variables by name ("Name-GUID"; at most 2047 characters,
 * else HYX_LIMIT_EXCEEDED).  Attributes are the UEFI attribute bits
 * (1 non-volatile, 2 boot-service access, 4 runtime access, ...).
 */

/* The names of every variable: an array of *countOut names followed by a
 * null.  When the library's own memory runs out or a name cannot be read,
 * *namesOut is null and *countOut 0; a list the kernel refuses (with any
 * status, HYX_NO_MEMORY included) leaves both untouched.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null pointer; HYX_CHECKSUM_MISMATCH
 * from the gate; HYX_NO_MEMORY; the kernel's status when it refuses the
 * list or a name.
 * Frees: the caller frees each name, then the array.
 * Gated: yes. */
HYXUSER_API HYX_ReturnStatus HyxuserUefi_GetVariableList(char ***namesOut, uint32_t *countOut);
/* A variable's attributes and contents: *dataOut is a copy of
 * *dataLengthOut bytes, or null with length 0 when the variable has no
 * contents.  *dataOut and *dataLengthOut are left untouched by a failure
 * before the variable's contents are asked for (a bad name, the kernel
 * refusing its size, memory for the buffer); once they are asked for, a
 * failure leaves them null and 0 (*attributesOut is written only when the
 * kernel hands the contents over).
 * Returns: HYX_OK; HYX_BAD_PARAM for a null pointer; HYX_LIMIT_EXCEEDED for
 * a name that is too long; HYX_NO_MEMORY; the kernel's status (such as
 * HYX_NOT_FOUND for a variable that does not exist).
 * Frees: the caller frees *dataOut.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserUefi_GetVariable(const char *name, uint32_t *attributesOut,
                                                     uint64_t *dataLengthOut, void **dataOut);
/* Writes a variable; data may be null when dataLength is 0 (a write without
 * contents deletes the variable).
 * Returns: HYX_OK; HYX_BAD_PARAM, without a kernel call, for attributes 0,
 * a null name, null data with a non-zero length or contents longer than
 * 0xFFFFFFF3 bytes; HYX_LIMIT_EXCEEDED for a name that is too long;
 * HYX_NO_MEMORY; the kernel's status.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserUefi_SetVariable(const char *name, uint32_t attributes,
                                                     uint64_t dataLength, const void *data);
/* Deletes a variable (a write of no contents with attributes 7).
 * Returns: as HyxuserUefi_SetVariable; HYX_BAD_PARAM for a null name.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserUefi_RemoveVariable(const char *name);

/* ---- Physical NICs and TCP/IP interfaces ---------------------------------- */

typedef struct HyxuserPnicInfo {
  char name[128];          /* NUL-terminated; longer names are cut */
  uint32_t linkSpeed;      /* Mb/s */
  uint32_t hwCapSupported; /* hardware capability flags */
  uint32_t hwCapActivated;
  uint8_t linkUp;
  uint8_t macAddress[6]; /* bytes that the kernel's text did not give stay 0 */
  uint8_t reserved147;   /* 0 */
} HyxuserPnicInfo;       /* 148 bytes */

typedef struct HyxuserTcpipInterface {
  uint64_t tsoMss;
  uint64_t mtu;
  uint8_t macAddress[6];
  uint8_t reserved22[2]; /* left as the caller had them */
  uint64_t ipv4Address;  /* bytes as the kernel gives them (network order) */
  uint64_t ipv4Netmask;
  char name[128];        /* NUL-terminated */
} HyxuserTcpipInterface; /* 168 bytes */

/*
 * The physical NICs, in the kernel's order: *countOut (required) receives how
 * many exist, at most maxRecords records are filled; a null records or a
 * maxRecords of 0 asks only for the count.  All maxRecords records are
 * cleared before any is filled; on a failure the ones filled stay filled.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null countOut; HYX_CHECKSUM_MISMATCH
 * from the gate; HYX_NO_MEMORY; the kernel's status when a list or a NIC's
 * properties cannot be read.
 * Gated: yes.
 */
HYXUSER_API HYX_ReturnStatus HyxuserNet_GetPnics(HyxuserPnicInfo *records, uint32_t maxRecords,
                                                 uint32_t *countOut);
/*
 * The interfaces of the default TCP/IP stack, as above; countOut may be
 * null, and receives 0 on any failure.
 * Returns: HYX_OK; HYX_CHECKSUM_MISMATCH from the gate; HYX_NAME_TOO_LONG
 * for a name of 128 characters or more (its record keeps the cut name);
 * HYX_NO_MEMORY; the kernel's status when a list or a value cannot be read.
 * Gated: yes.
 */
HYXUSER_API HYX_ReturnStatus HyxuserTcpip_GetInterfaces(HyxuserTcpipInterface *records, uint32_t maxRecords,
                                                        uint32_t *countOut);

/* ---- Observation notify -------------------------------------------------- */

/* Who reports an observation, and how grave it is. */
typedef struct HyxuserHobContext {
  uint32_t severity;  /* HYXUSER_HOB_INFO, _WARNING or _ERROR */
  char component[32]; /* reporting component: 1 to 31 characters and a NUL */
  char kb[512];       /* knowledge-base reference: 1 to 511 characters and a NUL */
} HyxuserHobContext;  /* 548 bytes */

enum {
  HYXUSER_HOB_INFO = 1,
  HYXUSER_HOB_WARNING = 2,
  HYXUSER_HOB_ERROR = 3,
};

/*
 * Sends an observation to the host's observation daemon: the context and
 * the text that format and its arguments give (at most 511 bytes, formatted
 * by the library's own printf engine).  The daemon sends no answer: HYX_OK
 * says the observation was handed on.  A failure status also sets errno to
 * the status's errno.
 * Returns: HYX_OK; HYX_NO_CONNECT when no daemon listens; HYX_NAME_TOO_LONG
 * for a component without a NUL in its 32 bytes; HYX_LIMIT_EXCEEDED for a
 * kb without a NUL or a text that is too long; HYX_BAD_PARAM for a missing
 * or empty field or another severity; HYX_WRITE_ERROR when the connection
 * failed before the whole message was written.
 * Gated: no.
 */
HYXUSER_API HYX_ReturnStatus HyxuserHob_Notify(const HyxuserHobContext *context, const char *format, ...);

/* ---- SNMP trap spool -------------------------------------------------------- */

/* Value types of a variable binding.  Codes 5 and 6 are also accepted and
 * reach the agent as "40" and "100". */
enum {
  HYXUSER_SNMP_INTEGER = 0,
  HYXUSER_SNMP_OCTET_STRING = 1,
  HYXUSER_SNMP_OBJECT_ID = 2,
  HYXUSER_SNMP_GAUGE = 3,
  HYXUSER_SNMP_TIMETICKS = 4,
};

/* One variable binding of a trap. */
typedef struct HyxuserSnmpVarBind {
  const char *oid;   /* dotted decimal, no leading dot */
  uint32_t type;     /* HYXUSER_SNMP_* */
  const char *value; /* the value as text, one line (no line feed) */
} HyxuserSnmpVarBind;

/* Bit 0 raises the trap size limit from 1472 to 65507 bytes (OIDs and
 * values counted); the setting holds for the process.
 * Returns: HYX_OK.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserSnmp_Configure(uint32_t flags);

/*
 * Raises an enterprise-specific trap: trapOid is the enterprise OID (under
 * 1.3.6.1.4.1) followed by the specific-trap number (optionally after ".0.").
 * The trap is written to the SNMP agent's spool and the agent is woken.  One
 * trap per 10000 ms passes per process (HYX_LIMIT_EXCEEDED otherwise; a trap
 * that passes that check uses up the window even if it then fails).
 * Returns: HYX_OK; HYX_BAD_PARAM for a malformed trap OID or null bindings
 * with a count; HYX_LIMIT_EXCEEDED inside the throttle's window;
 * HYX_NOT_READY when the spool is not writable or no agent listens (no trap
 * file is left then); HYX_RESULT_TOO_LARGE over the size limit;
 * HYX_FAILURE for a binding with a null or malformed OID, an unknown type, a
 * null value or a value holding a line feed (found after the throttle, so
 * the window is used up), or when the trap file cannot be written.
 * Gated: no.
 */
HYXUSER_API HYX_ReturnStatus HyxuserSnmp_SendTrap(const char *trapOid, const HyxuserSnmpVarBind *bindings,
                                                  uint64_t count);
/* Milliseconds until the next trap would pass (0: now).
 * Returns: HYX_OK; HYX_BAD_PARAM for a null pointer; HYX_FAILURE when the
 * clock cannot be read.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserSnmp_GetThrottlingRemaining(uint32_t *remainingMs);
/* The throttle's period: 10000 ms.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null pointer.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserSnmp_GetThrottlingPeriod(uint32_t *periodMs);

/* ---- Storage adapters and devices ---------------------------------------- */

/*
 * Adapters, devices and paths are named by the kernel's strings (adapter
 * names such as "vmhba0", device UIDs, path names).  Every function but the
 * rescan is gated: it returns HYX_CHECKSUM_MISMATCH at once when the kernel
 * does not speak the library's interface.  Each passes on the kernel's
 * status when a node cannot be read.
 */

/* The PCI bus, slot and function of an adapter; nothing is written on
 * failure.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null pointer; HYX_FAILURE for an
 * FC-NPIV virtual port, which has none; HYX_CHECKSUM_MISMATCH from the
 * gate; the kernel's status.
 * Gated: yes. */
HYXUSER_API HYX_ReturnStatus HyxuserStorage_GetBusSlotFunctionForHyxkernelAdapterIdentifier(
    const char *adapterName, uint32_t *busOut, uint32_t *slotOut, uint32_t *functionOut);

/* The name of the adapter at a PCI location, into nameOut (nameOutSize
 * bytes).
 * Adapters are looked at in the kernel's order; an FC-NPIV virtual port is
 * passed over, and any other adapter the kernel fails to describe ends the
 * search with the kernel's status.
 * Returns: HYX_OK, with nameOut untouched when no adapter sits there;
 * HYX_NAME_TOO_LONG when the name does not fit (nameOut is not written);
 * HYX_BAD_PARAM for a null nameOut; HYX_CHECKSUM_MISMATCH from the gate;
 * HYX_NO_MEMORY; the kernel's status.
 * Gated: yes. */
HYXUSER_API HYX_ReturnStatus HyxuserStorage_MapBusSlotFuncToHyxkernelAdapterIdentifier(
    uint32_t bus, uint32_t slot, uint32_t function, char *nameOut, int nameOutSize);

/* The UIDs of the devices an adapter reaches over active paths, one per
 * path in the kernel's order (a device reached over two paths appears
 * twice), at most maxUids, into uidsOut; *countOut receives how many.  A
 * path whose device UID the kernel fails to read is passed over.  When the
 * path list cannot be read *countOut is untouched; on a later failure
 * nothing is handed out and *countOut is 0.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null pointer or maxUids 0;
 * HYX_CHECKSUM_MISMATCH from the gate; HYX_NO_MEMORY; the kernel's status.
 * Frees: the caller frees each of the *countOut strings.
 * Gated: yes. */
HYXUSER_API HYX_ReturnStatus HyxuserStorage_GetActiveDeviceUIDsFromHyxkernelAdapterIdentifier(
    const char *adapterName, char **uidsOut, uint32_t maxUids, uint32_t *countOut);

/* For every path to a device, up to maxEntries: the adapter name (the
 * caller frees it) and the channel, target and LUN, written through the
 * pointers held at the same index of the three arrays.  *countOut receives
 * the number of entries filled.  A path whose device UID the kernel fails
 * to read is passed over.  On a failure *countOut holds the index of the
 * last entry filled (-1 for none) and those names are the caller's.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null pointer; HYX_CHECKSUM_MISMATCH
 * from the gate; HYX_NO_MEMORY; the kernel's status.
 * Frees: the caller frees the adapter names handed out.
 * Gated: yes. */
HYXUSER_API HYX_ReturnStatus HyxuserStorage_GetAllChannelsTargetsLunsForHyxkernelDeviceUID(
    const char *deviceUid, char **adapterNamesOut, uint32_t **channelsOut, uint32_t **targetsOut,
    uint32_t **lunsOut, uint32_t maxEntries, int *countOut);

/* The first length bytes (0 to 255) of a device's inquiry page 0x83 into
 * the buffer *bufferRef points to.
 * Returns: HYX_OK, with nothing written for a device the kernel does not
 * know; HYX_BAD_PARAM for a null pointer or a length out of range;
 * HYX_CHECKSUM_MISMATCH from the gate; HYX_NO_MEMORY; the kernel's status.
 * Gated: yes. */
HYXUSER_API HYX_ReturnStatus HyxuserStorage_GetVPD83ForHyxkernelDeviceUID(const char *deviceUid,
                                                                          uint8_t **bufferRef, int length);

/* *resultOut = 1 for an NVMe device on the next-generation storage stack,
 * else 0; untouched on failure.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null pointer; HYX_CHECKSUM_MISMATCH
 * from the gate; the kernel's status.
 * Gated: yes. */
HYXUSER_API HYX_ReturnStatus HyxuserStorage_IsNextgenNvmeHyxkernelDeviceUID(const char *deviceUid,
                                                                            uint8_t *resultOut);

/* Asks the kernel to rescan an adapter and delete its dead paths; a kernel
 * failure sets errno.
 * Returns: the kernel's status; HYX_BAD_PARAM for a name that is null or
 * not 1 to 31 characters.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserStorage_RescanDeletePathsOnHyxkernelAdapter(const char *adapterName);

/* ---- NVDIMM -------------------------------------------------------------- */

/* A command for the NVDIMM driver (packed, 36 bytes).  The words, pointers
 * and half-words are the driver's; the library checks pointer1, word3 and
 * pointer2 and hands the rest on as given. */
typedef struct __attribute__((packed)) HyxuserNvdPassthroughCommand {
  uint32_t word0;
  uint32_t word1;
  uint32_t word2;
  void *pointer1;      /* must not be null */
  uint16_t resultHalf; /* the driver's result, written back on success */
  uint16_t sentHalf;
  uint32_t word3; /* must not be 0 */
  void *pointer2; /* must not be null */
} HyxuserNvdPassthroughCommand;

/* The NVDIMM driver's capabilities (packed, 16 bytes). */
typedef struct __attribute__((packed)) HyxuserNvdDriverCapabilities {
  uint32_t maxNamespaces;
  uint64_t minNamespaceSize;  /* bytes */
  uint32_t supportedFeatures; /* bits 0 to 17, 19 and 20 of the driver's feature flags */
} HyxuserNvdDriverCapabilities;

/* Passes a command to the NVDIMM management device, which is opened on
 * first use (close-on-exec) and closed when the library is unloaded.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null command, pointer1 or pointer2
 * or a zero word3; HYX_FAILURE when the device cannot be opened (logged to
 * syslog at LOG_CRIT); the driver's errno as a status otherwise.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserNVD_PassthroughCommand(HyxuserNvdPassthroughCommand *command);

/* The driver's capabilities; the record is untouched on failure.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null record; HYX_FAILURE when the
 * device cannot be opened; the driver's errno as a status otherwise.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserNVD_GetDriverCapabilities(HyxuserNvdDriverCapabilities *capabilities);

/* ---- I/O resource management --------------------------------------------- */

/*
 * Kept for old callers: none reads its arguments, whatever a caller passes.
 * C++ and C23 declare them as taking any arguments; C before C23 has no
 * prototype for that, so there they stay declared without one.
 * Returns: HYX_NOT_IMPLEMENTED from every one, but
 * HyxuserIORM_SCSISaveStatsInKernel (HYX_FAILURE),
 * HyxuserIORM_NFSSetActiveState (HYX_OK) and HyxuserIORM_DeviceListFree
 * (returns nothing: there is never a list to free).
 * Gated: no.
 */
#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 202311L)
#define HYXUSER_ANY_ARGUMENTS ...
#else
#define HYXUSER_ANY_ARGUMENTS
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wstrict-prototypes"
#endif
HYXUSER_API HYX_ReturnStatus HyxuserIORM_SCSIGetWorldStats(HYXUSER_ANY_ARGUMENTS);
HYXUSER_API HYX_ReturnStatus HyxuserIORM_SCSIGetWorldShares(HYXUSER_ANY_ARGUMENTS);
HYXUSER_API HYX_ReturnStatus HyxuserIORM_SCSIGetDeviceInfo(HYXUSER_ANY_ARGUMENTS);
HYXUSER_API HYX_ReturnStatus HyxuserIORM_SCSIGetMaxQueueDepth(HYXUSER_ANY_ARGUMENTS);
HYXUSER_API HYX_ReturnStatus HyxuserIORM_SCSISetMaxQueueDepth(HYXUSER_ANY_ARGUMENTS);
HYXUSER_API HYX_ReturnStatus HyxuserIORM_SCSISetActiveState(HYXUSER_ANY_ARGUMENTS);
HYXUSER_API HYX_ReturnStatus HyxuserIORM_SCSIGetParams(HYXUSER_ANY_ARGUMENTS);
HYXUSER_API HYX_ReturnStatus HyxuserIORM_SCSISetParams(HYXUSER_ANY_ARGUMENTS);
HYXUSER_API HYX_ReturnStatus HyxuserIORM_SCSISaveStatsInKernel(HYXUSER_ANY_ARGUMENTS);
HYXUSER_API HYX_ReturnStatus HyxuserIORM_SCSISetClusterWideStats(HYXUSER_ANY_ARGUMENTS);
HYXUSER_API HYX_ReturnStatus HyxuserIORM_SCSIGetDeviceListAlloc(HYXUSER_ANY_ARGUMENTS);
HYXUSER_API void HyxuserIORM_DeviceListFree(HYXUSER_ANY_ARGUMENTS);
HYXUSER_API HYX_ReturnStatus HyxuserIORM_NFSGetVolumeListAlloc(HYXUSER_ANY_ARGUMENTS);
HYXUSER_API HYX_ReturnStatus HyxuserIORM_NFSGetMaxQueueDepth(HYXUSER_ANY_ARGUMENTS);
HYXUSER_API HYX_ReturnStatus HyxuserIORM_NFSSetMaxQueueDepth(HYXUSER_ANY_ARGUMENTS);
HYXUSER_API HYX_ReturnStatus HyxuserIORM_NFSSetActiveState(HYXUSER_ANY_ARGUMENTS);
HYXUSER_API HYX_ReturnStatus HyxuserIORM_NFSGetParams(HYXUSER_ANY_ARGUMENTS);
HYXUSER_API HYX_ReturnStatus HyxuserIORM_NFSSetParams(HYXUSER_ANY_ARGUMENTS);
HYXUSER_API HYX_ReturnStatus HyxuserIORM_NFSSetLatencyThreshold(HYXUSER_ANY_ARGUMENTS);
HYXUSER_API HYX_ReturnStatus HyxuserIORM_NFSSetClusterWideStats(HYXUSER_ANY_ARGUMENTS);
HYXUSER_API HYX_ReturnStatus HyxuserIORM_NFSGetStats(HYXUSER_ANY_ARGUMENTS);
HYXUSER_API HYX_ReturnStatus HyxuserIORM_NFSGetWorldIdsForVolume(HYXUSER_ANY_ARGUMENTS);
HYXUSER_API HYX_ReturnStatus HyxuserIORM_NFSGetWorldInfo(HYXUSER_ANY_ARGUMENTS);

/* ---- VM mapping ---------------------------------------------------------- */

/*
 * From a world (worldId) to its virtual machine: the group's leader's VM
 * record.  uuidOut (128 bytes) and pathOut may each be null; the lookups run
 * either way and their status is returned.  Both are filled as strncpy
 * fills: exactly their size, padded with NULs, and not terminated when the
 * text fills them.  Nothing is written on failure.
 *
 * HyxuserVM_MapWorldIdToUUIDAndPath: the VM's uuid and the configuration
 * path cut to 1024 bytes (pathOut holds 1024).  The _0_24 form: the uuid
 * and the whole path (pathOut holds 1984).  Programs built against version
 * 0.24 of the old name get the whole path from it too.
 * Returns: HYX_OK; HYX_CHECKSUM_MISMATCH from the gate; HYX_NO_MEMORY; the
 * kernel's status.
 * Gated: yes.
 */
HYXUSER_API HYX_ReturnStatus HyxuserVM_MapWorldIdToUUIDAndPath(uint32_t worldId, char *uuidOut,
                                                               char *pathOut);
HYXUSER_API HYX_ReturnStatus HyxuserVM_MapWorldIdToUUIDAndPath_0_24(uint32_t worldId, char *uuidOut,
                                                                    char *pathOut);
/* The VM's instance uuid and the path cut to 1024 bytes; the _0_24 form
 * gives the whole path.  Filled as above.
 * Returns: HYX_OK; HYX_CHECKSUM_MISMATCH from the gate; HYX_NO_MEMORY; the
 * kernel's status.
 * Gated: yes. */
HYXUSER_API HYX_ReturnStatus HyxuserVM_MapWorldIdToInstanceUUIDAndPath(uint32_t worldId, char *uuidOut,
                                                                       char *pathOut);
HYXUSER_API HYX_ReturnStatus HyxuserVM_MapWorldIdToInstanceUUIDAndPath_0_24(uint32_t worldId, char *uuidOut,
                                                                            char *pathOut);

/* ---- Compatibility entry points ------------------------------------------ */

/* *inCos = 0 on the Hyxkernel, 1 anywhere else.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null pointer.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserCompat_InCOS(int *inCos);
/* Gives up the ownership of a socket to the kernel.
 * Returns: HYX_OK; 0x2bad0000 + errno when the request fails.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserCompat_RelinquishSocketOwnership(int socketFd);
/* HyxuserStorage_RescanDeletePathsOnHyxkernelAdapter under its old name.
 * Returns: as that function (the kernel's status; HYX_BAD_PARAM).
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserCompat_RescanHyxkernelHba(const char *adapterName);
/* Reads no argument (declared as the I/O resource management entries are).
 * Returns: HYX_NOT_IMPLEMENTED, always.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserCompat_MapLinuxHbaToHyxkernelHba(HYXUSER_ANY_ARGUMENTS);

#if !defined(__cplusplus) && !(defined(__STDC_VERSION__) && __STDC_VERSION__ >= 202311L)
#pragma GCC diagnostic pop
#endif
#undef HYXUSER_ANY_ARGUMENTS

/* ---- Event posting ------------------------------------------------------- */

/* One argument of an event: both strings non-null; the value is sent as an
 * XML Schema string. */
typedef struct HyxuserLumEventArg {
  const char *key;
  const char *value;
} HyxuserLumEventArg;

/*
 * Posts an event into the management daemon's event log.  severity is 0
 * (info), 1 (warning) or 2 (error); at most 256 arguments whose keys and
 * values total at most 16384 bytes.  The library logs in to the daemon with
 * a local ticket and keeps the session (a child made by fork does not
 * inherit it: it logs in on its own connection).  One event per 300000 ms
 * passes per process (an event that passes that check uses up the window
 * even if it then fails).  Each request and its answer must be over within
 * 30 s, however the daemon paces its bytes.
 * Exposure: the daemon is reached on 127.0.0.1 port 8307, a port any local
 * program may listen on while the daemon is down, and whoever answers there
 * names the password file that the library reads with the caller's rights
 * and sends back in the login.  The library reads only a regular file of 1
 * to 63 bytes, not through a symbolic link as its last component and not on
 * the kernel's own file systems (proc, sys and the like); any other such
 * file the caller can read (links in the directories above it are
 * followed) still goes to whoever answered.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null type id, a severity above 2,
 * null args with a count, a null key or value, or too many arguments or
 * bytes; HYX_LIMIT_EXCEEDED inside the throttle's window; HYX_FAILURE when
 * the daemon cannot be reached, refuses the login or the event, or stops
 * answering, or when libxml2 cannot be loaded.
 * Gated: no.
 */
HYXUSER_API HYX_ReturnStatus HyxuserLumEvent_Send(const char *eventTypeId, uint32_t severity,
                                                  const HyxuserLumEventArg *args, uint64_t count);
/* Milliseconds until the next event would pass (0: now).
 * Returns: HYX_OK; HYX_BAD_PARAM for a null pointer; HYX_FAILURE when the
 * clock cannot be read.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserLumEvent_GetThrottlingRemaining(uint32_t *remainingMs);
/* The throttle's period: 300000 ms.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null pointer.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserLumEvent_GetThrottlingPeriod(uint32_t *periodMs);

/* ---- HXFS volumes and heartbeats ------------------------------------------ */

/*
 * Hosts that share an HXFS volume each keep a heartbeat slot on it.  These
 * calls read the volume's descriptor and heartbeat region straight from its
 * device (found through the file system and the host's device directories),
 * and ask the file system about locks.  Diagnostics go to stderr.
 */

/* An iterator over one reading of a volume's heartbeat region, and one
 * host's record inside it (valid until the iterator is ended). */
typedef struct HxfsHostIter HxfsHostIter;
typedef struct HxfsHostInfo HxfsHostInfo;

/* *isHxfs becomes 1 when the volume holding path is HXFS, 0 when it is not;
 * untouched on failure.
 * path is opened without waiting (a FIFO never blocks the call).
 * Returns: HYX_OK; HYX_BAD_PARAM without pointers, for a path that is
 * neither a regular file nor a directory, or when the volume has no
 * device in the host's device directories; 0x2bad0000 + errno for a failed
 * open, request or read; HYX_FAILURE for a request refused without an
 * errno; HYX_READ_ERROR for a short read.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserHXFS_IsHXFSVolume(const char *path, uint32_t *isHxfs);
/* Reads the heartbeat region of the volume holding path into a new iterator
 * (*iterOut).
 * path is opened as by HyxuserHXFS_IsHXFSVolume.
 * Returns: HYX_OK; HYX_BAD_PARAM without pointers, for a path that is
 * neither a regular file nor a directory, or when the volume is not
 * HXFS; HYX_NOT_SUPPORTED when its descriptor gives a geometry that cannot
 * be read (slot size 0, not a multiple of 512, above 64 KiB);
 * HYX_READ_ERROR when the region ends early; HYX_NO_MEMORY; 0x2bad0000 +
 * errno for a failed open, request or read; HYX_FAILURE for a request
 * refused without an errno.
 * Frees: the caller, with HyxuserHXFS_ActiveHostIterEnd.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserHXFS_ActiveHostIterBegin(const char *path, HxfsHostIter **iterOut);
/* The next held slot in slot order; *infoOut stays valid until the iterator
 * is ended.
 * Returns: HYX_OK; HYX_NOT_FOUND after the last; HYX_BAD_PARAM without
 * pointers.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserHXFS_ActiveHostIterNext(HxfsHostIter *iter, HxfsHostInfo **infoOut);
/* The newest slot (greatest time stamp, the later slot on a tie) carrying
 * the 16-byte uuid, free slots included.
 * Returns: HYX_OK; HYX_NOT_FOUND when none does; HYX_BAD_PARAM without
 * pointers.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserHXFS_GetHostInfo(HxfsHostIter *iter, const uint8_t *uuid,
                                                     HxfsHostInfo **infoOut);
/* Frees *iterPtr and sets it to null.
 * Returns: HYX_OK; HYX_BAD_PARAM when it is already null or not an
 * iterator that HyxuserHXFS_ActiveHostIterBegin handed out.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserHXFS_ActiveHostIterEnd(HxfsHostIter **iterPtr);
/* One field of a host's record: MAC address (6 bytes), time stamp, state
 * word, UUID (16 bytes).
 * Returns: HYX_OK; HYX_BAD_PARAM when either pointer is null.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserHXFS_GetMacAddr(const HxfsHostInfo *info, uint8_t *mac);
HYXUSER_API HYX_ReturnStatus HyxuserHXFS_GetHostInfoTimeStamp(const HxfsHostInfo *info, uint64_t *stamp);
HYXUSER_API HYX_ReturnStatus HyxuserHXFS_GetHostInfoState(const HxfsHostInfo *info, uint32_t *state);
HYXUSER_API HYX_ReturnStatus HyxuserHXFS_GetHostInfoUUID(const HxfsHostInfo *info, uint8_t *uuid);
/* Milliseconds left on the lock of the file open at fd, asked with the
 * caller's flag byte.
 * Returns: HYX_OK; HYX_BAD_PARAM for a null remainingMs; HYX_TIMEOUT when
 * the lock time has passed; HYX_FAILURE when the file system refuses the
 * request; the file system's own status when it answers one.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserHXFS_VerifyLock(int fd, uint8_t flag, int64_t *remainingMs);
/* This host's UUID, the one its heartbeats carry (16 bytes).
 * Returns: HYX_OK; HYX_CHECKSUM_MISMATCH from the gate (whatever the
 * load-time check's status); HYX_BAD_PARAM for a null pointer; the
 * kernel's status.
 * Gated: yes. */
HYXUSER_API HYX_ReturnStatus HyxuserHXFS_GetHostUUID(uint8_t *uuid);

/* ---- PAM bridge ---------------------------------------------------------- */

/* Linux-PAM's transaction handle (pam_handle_t of <security/pam_appl.h>). */
struct pam_handle;

/*
 * Starts a PAM transaction for user with the host's service configuration.
 * Every prompt PAM makes is answered with password, which PAM keeps by
 * pointer: it must stay valid until HyxuserPam_End.  *handleOut receives the
 * handle, or null when PAM refuses.
 * Returns: HYX_OK; HYX_BAD_PARAM without a user; HYX_FAILURE without
 * handleOut or when libpam cannot be loaded; PAM's own answers as the
 * status its value converts to.
 * Frees: the caller ends the transaction with HyxuserPam_End.
 * Gated: no.
 */
HYXUSER_API HYX_ReturnStatus HyxuserPam_Start(const char *service, const char *user, const char *password,
                                              struct pam_handle **handleOut);
/* Ends the transaction (PAM_SUCCESS to the modules) and frees the handle.
 * Returns: PAM's answer as a status (HYX_OK); HYX_FAILURE when libpam
 * cannot be loaded.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserPam_End(struct pam_handle *handle);
/* The two checks; a non-zero silent asks PAM for no messages and refuses an
 * empty password.
 * Returns: HYX_OK; PAM's refusal as the status its value converts to;
 * HYX_FAILURE when libpam cannot be loaded.
 * Gated: no. */
HYXUSER_API HYX_ReturnStatus HyxuserPam_Authenticate(struct pam_handle *handle, int silent);
HYXUSER_API HYX_ReturnStatus HyxuserPam_Acct_Mgmt(struct pam_handle *handle, int silent);

#ifdef __cplusplus
}
#endif

#endif /* HYXUSER_HYXUSER_H */
