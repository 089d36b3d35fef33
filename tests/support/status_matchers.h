// Status expectations that print names: EXPECT_THAT(status,
// IsStatus(HYX_BAD_PARAM)) fails naming both statuses, each with its code in
// hex, rather than printing a decimal number.  Names come from the library's own lookup.
#pragma once

#include <gmock/gmock.h>

#include <cstdio>
#include <ostream>
#include <string>

#include "hyxuser/hyxuser.h"
#include "status/status.h"

// The status's name and its code in hex; errno-carrying codes add their
// errno.
inline std::string StatusText(HYX_ReturnStatus status) {
  char code[64];
  if (int err = Status_CarriedErrno(status))
    snprintf(code, sizeof code, " (0x%08x, errno %d)", status, err);
  else
    snprintf(code, sizeof code, " (0x%08x)", status);
  return Status_ToName(status) + std::string(code);
}

class StatusMatcher {
 public:
  using is_gtest_matcher = void;
  explicit StatusMatcher(HYX_ReturnStatus expected) : expected_(expected) {}
  bool MatchAndExplain(HYX_ReturnStatus actual, std::ostream *why) const {
    if (why != nullptr) *why << "which is " << StatusText(actual);
    return actual == expected_;
  }
  void DescribeTo(std::ostream *out) const { *out << "is " << StatusText(expected_); }
  void DescribeNegationTo(std::ostream *out) const { *out << "is not " << StatusText(expected_); }

 private:
  HYX_ReturnStatus expected_;
};

// The enum constants are ints; the matcher takes them as the status type.
inline StatusMatcher IsStatus(HYX_ReturnStatus expected) { return StatusMatcher(expected); }
inline StatusMatcher IsOk() { return StatusMatcher(HYX_OK); }
