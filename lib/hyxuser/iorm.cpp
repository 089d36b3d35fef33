// I/O resource management.  The kernel keeps no I/O resource management
// for user space to reach, so each entry answers the same fixed result
// whatever its caller passes; none reads its arguments.
#include "common/export.h"
#include "hyxuser/hyxuser.h"

#define HYX_IORM_FIXED(name, result) \
  HYX_EXPORT HYX_ReturnStatus name(...) { return result; }

HYX_IORM_FIXED(HyxuserIORM_SCSIGetWorldStats, HYX_NOT_IMPLEMENTED)
HYX_IORM_FIXED(HyxuserIORM_SCSIGetWorldShares, HYX_NOT_IMPLEMENTED)
HYX_IORM_FIXED(HyxuserIORM_SCSIGetDeviceInfo, HYX_NOT_IMPLEMENTED)
HYX_IORM_FIXED(HyxuserIORM_SCSIGetMaxQueueDepth, HYX_NOT_IMPLEMENTED)
HYX_IORM_FIXED(HyxuserIORM_SCSISetMaxQueueDepth, HYX_NOT_IMPLEMENTED)
HYX_IORM_FIXED(HyxuserIORM_SCSISetActiveState, HYX_NOT_IMPLEMENTED)
HYX_IORM_FIXED(HyxuserIORM_SCSIGetParams, HYX_NOT_IMPLEMENTED)
HYX_IORM_FIXED(HyxuserIORM_SCSISetParams, HYX_NOT_IMPLEMENTED)
HYX_IORM_FIXED(HyxuserIORM_SCSISaveStatsInKernel, HYX_FAILURE)
HYX_IORM_FIXED(HyxuserIORM_SCSISetClusterWideStats, HYX_NOT_IMPLEMENTED)
HYX_IORM_FIXED(HyxuserIORM_SCSIGetDeviceListAlloc, HYX_NOT_IMPLEMENTED)
HYX_IORM_FIXED(HyxuserIORM_NFSGetVolumeListAlloc, HYX_NOT_IMPLEMENTED)
HYX_IORM_FIXED(HyxuserIORM_NFSGetMaxQueueDepth, HYX_NOT_IMPLEMENTED)
HYX_IORM_FIXED(HyxuserIORM_NFSSetMaxQueueDepth, HYX_NOT_IMPLEMENTED)
HYX_IORM_FIXED(HyxuserIORM_NFSSetActiveState, HYX_OK)
HYX_IORM_FIXED(HyxuserIORM_NFSGetParams, HYX_NOT_IMPLEMENTED)
HYX_IORM_FIXED(HyxuserIORM_NFSSetParams, HYX_NOT_IMPLEMENTED)
HYX_IORM_FIXED(HyxuserIORM_NFSSetLatencyThreshold, HYX_NOT_IMPLEMENTED)
HYX_IORM_FIXED(HyxuserIORM_NFSSetClusterWideStats, HYX_NOT_IMPLEMENTED)
HYX_IORM_FIXED(HyxuserIORM_NFSGetStats, HYX_NOT_IMPLEMENTED)
HYX_IORM_FIXED(HyxuserIORM_NFSGetWorldIdsForVolume, HYX_NOT_IMPLEMENTED)
HYX_IORM_FIXED(HyxuserIORM_NFSGetWorldInfo, HYX_NOT_IMPLEMENTED)

// There is never a device list to free.
HYX_EXPORT void HyxuserIORM_DeviceListFree(...) {}
