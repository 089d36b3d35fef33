/*
 * libhyxuser: user-space access to the Hyxkernel and the host's local services.
 *
 * Every function returns a HYX_ReturnStatus (HYX_OK on success) unless its
 * comment says otherwise.  Outputs go through pointer arguments; memory the
 * library hands out comes from malloc and is released with free.
 */
#ifndef HYXUSER_HYXUSER_H
#define HYXUSER_HYXUSER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define HYXUSER_API __attribute__((visibility("default")))

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
 * Writes the text of status into buffer with snprintf semantics.  textLength,
 * if not null, receives the length of the whole text.  Returns HYX_FAILURE
 * when status is unknown (the text then says so).
 */
HYXUSER_API HYX_ReturnStatus HyxuserStatus_CodeToString(HYX_ReturnStatus status,
                                                        char *buffer,
                                                        uint32_t bufferSize,
                                                        int *textLength);

/* Stores the errno that status converts to; HYX_FAILURE and 22 if none. */
HYXUSER_API HYX_ReturnStatus HyxuserStatus_CodeToErrno(HYX_ReturnStatus status,
                                                       int *errnoOut);

/* Returns the PAM return value of status, or -1 when it has none. */
HYXUSER_API int32_t HyxuserStatus_CodeToPamReturnValue(HYX_ReturnStatus status);

#ifdef __cplusplus
}
#endif

#endif /* HYXUSER_HYXUSER_H */
