// Marks a definition as part of the library's binary interface.  Which
// version node it lands in is decided by the export manifest.
#pragma once

#define HYX_EXPORT extern "C" __attribute__((visibility("default")))
