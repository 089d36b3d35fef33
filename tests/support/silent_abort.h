// Death-test check that a statement ends the process with SIGABRT and that
// the library printed nothing.  The only output allowed is what the tools
// around the test add: a sanitizer's note of a refused allocation, or
// qemu's note of the signal in the aarch64 lane.
#pragma once

#include <gtest/gtest.h>

#include <csignal>

#define HYX_TOOL_NOTES "==[0-9]+==WARNING: [A-Za-z]+Sanitizer failed to allocate|qemu: uncaught target signal"
#define EXPECT_SILENT_ABORT(statement) \
  EXPECT_EXIT(statement, testing::KilledBySignal(SIGABRT), "^((" HYX_TOOL_NOTES ").*)?$")
