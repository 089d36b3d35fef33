// Reading what the sandbox's daemons recorded (hyxsim/daemons.h): one JSON
// object per line.  The daemons run beside the test, so a reader waits for
// the records it expects instead of assuming they are already there.
#pragma once

#include <time.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "hyxsim/daemons.h"

using Json = nlohmann::json;

// Whole lines only: a daemon may be half way through writing the last one.
inline std::vector<Json> ReadRecords(const char *path) {
  std::vector<Json> records;
  std::ifstream in(path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    if (end > at) records.push_back(Json::parse(text.substr(at, end - at), nullptr, false));
  return records;
}

// The records once there are at least `count` of them, or what there is
// after 20 seconds (so a missing record fails the test instead of hanging).
inline std::vector<Json> WaitForRecords(const char *path, size_t count) {
  struct timespec start, now, pause = {0, 1000000};
  clock_gettime(CLOCK_REALTIME, &start);
  for (;;) {
    std::vector<Json> records = ReadRecords(path);
    clock_gettime(CLOCK_REALTIME, &now);
    if (records.size() >= count || now.tv_sec - start.tv_sec > 20) return records;
    nanosleep(&pause, nullptr);
  }
}
