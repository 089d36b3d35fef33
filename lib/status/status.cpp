// The status table in its four parallel forms, its lookups and the exported
// conversions.  Every form is expanded from hyxuser_status.def at compile
// time, so the forms agree row for row by construction.
#include "status/status.h"

#include <array>
#include <cstring>
#include <string_view>

#include "common/export.h"

namespace {

constexpr uint32_t kKernelBase = HYX_FAILURE - 1;  // position 0 of the kernel range
constexpr uint32_t kRowCount = 366;                // positions 0 .. 0x16d
constexpr uint32_t kLastRow = kRowCount - 1;

struct Row {
  uint32_t n;
  const char *name;
  int32_t err;
  const char *message;
  const char *msgIdMessage;
};

constexpr Row kRows[] = {
#define HYX_STATUS(n, name, err, msg) {n, #name, err, msg, "@&!*@*@(msg.hyx.status." #name ")" msg},
#include "hyxuser/hyxuser_status.def"
#undef HYX_STATUS
};

// Lays a column of kRows out by position; positions without a row hold T{}.
template <typename T, typename Field>
constexpr std::array<T, kRowCount> Column(Field field) {
  std::array<T, kRowCount> column{};
  for (const Row &row : kRows) column[row.n] = field(row);
  return column;
}

constexpr bool RowsAreDistinctAndInRange() {
  std::array<bool, kRowCount> seen{};
  for (const Row &row : kRows) {
    if (row.n >= kRowCount || seen[row.n]) return false;
    seen[row.n] = true;
  }
  return seen[0] && seen[kLastRow];
}
static_assert(RowsAreDistinctAndInRange(), "status rows must be unique positions 0..0x16d");
static_assert(sizeof(kRows) / sizeof(kRows[0]) == kRowCount - 4, "four positions have no row");

// The form the exported conversions read.
struct ErrnoMessage {
  int32_t err;
  const char *message;
};

constexpr auto kErrnoMessages = Column<ErrnoMessage>([](const Row &r) {
  return ErrnoMessage{r.err, r.message};
});
constexpr auto kNames = Column<const char *>([](const Row &r) { return r.name; });
constexpr auto kMessages = Column<const char *>([](const Row &r) { return r.message; });
constexpr auto kMsgIdMessages = Column<const char *>([](const Row &r) { return r.msgIdMessage; });
constexpr auto kErrnos = Column<int32_t>([](const Row &r) { return r.err; });

struct PamPair {
  HYX_ReturnStatus status;
  int32_t pam;
};

constexpr PamPair kPamPairs[] = {
    {HYX_FAILURE, 4},
    {HYX_WOULD_BLOCK, 30},
    {HYX_NOT_FOUND, 10},
    {HYX_BUSY, 8},
    {HYX_LIMIT_EXCEEDED, 13},
    {HYX_METADATA_READ_ERROR, 20},
    {HYX_METADATA_WRITE_ERROR, 21},
    {HYX_IO_ERROR, 7},
    {HYX_READ_ERROR, 19},
    {HYX_WRITE_ERROR, 14},
    {HYX_INVALID_NAME, 15},
    {HYX_INVALID_HANDLE, 16},
    {HYX_INVALID_ADAPTER, 17},
    {HYX_STATUS_PENDING, 12},
    {HYX_INVALID_ADDRESS, 27},
    {HYX_IS_DISABLED, 23},
    {HYX_WAIT_INTERRUPTED, 31},
    {HYX_NOT_READY, 9},
    {HYX_NO_ACCESS, 6},
    {HYX_BAD_PARAM_TYPE, 29},
    {HYX_LOCK_NOT_FREE, 22},
    {HYX_MODULE_FAILED, 3},
    {HYX_INVALID_MODULE, 28},
    {HYX_MODULE_NOT_FOUND, 18},
    {HYX_MAX_RETRIES_EXCEEDED, 11},
    {HYX_ABORTED, 26},
    {HYX_UNRESOLVED_SYMBOL, 2},
    {HYX_RETRY, 24},
    {HYX_NO_BUFFERSPACE, 5},
    {HYX_DEVICE_NOT_READY_FAIL_OPEN, 1},
    {HYX_IGNORE, 25},
};

constexpr bool PamTableIsOneToOne() {
  std::array<int, 32> hits{};
  for (const PamPair &p : kPamPairs) {
    if (p.pam < 1 || p.pam > 31) return false;
    ++hits[p.pam];
  }
  for (int v = 1; v <= 31; ++v)
    if (hits[v] != 1) return false;
  return true;
}
static_assert(PamTableIsOneToOne(), "each PAM value 1..31 comes from exactly one status");

static_assert(Status_ToName(HYX_ERRNO_STATUS_BASE + 5) == std::string_view(kNames[kLastRow]),
              "errno-carrying codes are named for the table's last row");

// Position of a kernel code (HYX_FAILURE to the last row) in the table, or 0.
uint32_t RowOf(HYX_ReturnStatus status) {
  uint32_t n = status - kKernelBase;
  return (status > kKernelBase && n <= kLastRow && kNames[n]) ? n : 0;
}

bool IsSuccess(HYX_ReturnStatus status) { return status == HYX_OK || status == HYX_ERRNO_STATUS_BASE; }

// snprintf("%s", text) into (buffer, size); returns strlen(text).
size_t CopyText(char *buffer, uint32_t size, const char *text) {
  size_t length = strlen(text);
  if (size != 0) {
    size_t n = length < size - 1 ? length : size - 1;
    memcpy(buffer, text, n);
    buffer[n] = '\0';
  }
  return length;
}

// "Unknown error status: %#x" into (buffer, size); returns the full length.
size_t FormatUnknown(char *buffer, uint32_t size, HYX_ReturnStatus status) {
  static constexpr char kPrefix[] = "Unknown error status: 0x";
  char text[sizeof kPrefix + 8];
  memcpy(text, kPrefix, sizeof kPrefix - 1);
  char *p = text + sizeof kPrefix - 1;
  if (status == 0) p -= 2;  // %#x prints a bare "0" for zero
  char digits[8];
  int count = 0;
  do {
    digits[count++] = "0123456789abcdef"[status & 0xf];
    status >>= 4;
  } while (status != 0);
  while (count > 0) *p++ = digits[--count];
  *p = '\0';
  return CopyText(buffer, size, text);
}

}  // namespace

HYX_ReturnStatus StatusFromErrno(int err) {
  if (err == 0) return HYX_OK;
  uint32_t magnitude = err < 0 ? 0u - static_cast<uint32_t>(err) : static_cast<uint32_t>(err);
  return HYX_ERRNO_STATUS_BASE + magnitude;
}

const char *Status_ToMessage(HYX_ReturnStatus status) {
  if (IsSuccess(status)) return kMessages[0];
  if (int e = Status_CarriedErrno(status)) return strerror(e);
  uint32_t n = RowOf(status);
  return n ? kMessages[n] : "Unknown status";
}

const char *Status_ToMsgIdMessage(HYX_ReturnStatus status) {
  if (IsSuccess(status)) return kMsgIdMessages[0];
  if (int e = Status_CarriedErrno(status)) return strerror(e);
  uint32_t n = RowOf(status);
  return kMsgIdMessages[n ? n : HYX_FAILURE - kKernelBase];
}

int Status_ToErrno(HYX_ReturnStatus status) {
  if (IsSuccess(status)) return 0;
  if (int e = Status_CarriedErrno(status)) return e;
  uint32_t n = RowOf(status);
  return n ? kErrnos[n] : 22;
}

HYX_ReturnStatus Status_FromPamReturnValue(int pamValue) {
  if (pamValue == 0) return HYX_OK;
  for (const PamPair &p : kPamPairs)
    if (p.pam == pamValue) return p.status;
  return HYX_FAILURE;
}

HYX_EXPORT HYX_ReturnStatus HyxuserStatus_CodeToString(HYX_ReturnStatus status, char *buffer,
                                                       uint32_t bufferSize, int *textLength) {
  // A null buffer can only be measured, whatever size comes with it.
  if (buffer == nullptr) bufferSize = 0;
  const char *text = nullptr;
  if (status == HYX_OK) {
    text = "okay";
  } else if (status > HYX_ERRNO_STATUS_BASE - 1) {
    text = strerror(static_cast<int>(status - HYX_ERRNO_STATUS_BASE));
  } else if (status > HYX_FAILURE && status - kKernelBase <= kLastRow) {
    text = kErrnoMessages[status - kKernelBase].message;
  }
  size_t length = text ? CopyText(buffer, bufferSize, text) : FormatUnknown(buffer, bufferSize, status);
  if (textLength) *textLength = static_cast<int>(length);
  return text ? HYX_OK : HYX_FAILURE;
}

HYX_EXPORT HYX_ReturnStatus HyxuserStatus_CodeToErrno(HYX_ReturnStatus status, int *errnoOut) {
  if (errnoOut == nullptr) return HYX_BAD_PARAM;
  *errnoOut = 22;
  if (status == HYX_OK) {
    *errnoOut = 0;
  } else if (status > HYX_ERRNO_STATUS_BASE - 1) {
    *errnoOut = static_cast<int>(status - HYX_ERRNO_STATUS_BASE);
  } else if (status > HYX_FAILURE && status - kKernelBase <= kLastRow &&
             kErrnoMessages[status - kKernelBase].message) {
    *errnoOut = kErrnoMessages[status - kKernelBase].err;
  } else {
    return HYX_FAILURE;
  }
  return HYX_OK;
}

HYX_EXPORT int32_t HyxuserStatus_CodeToPamReturnValue(HYX_ReturnStatus status) {
  if (status == HYX_OK) return 0;
  for (const PamPair &p : kPamPairs)
    if (p.status == status) return p.pam;
  return -1;
}
