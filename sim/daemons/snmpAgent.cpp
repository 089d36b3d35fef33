// The sandbox's SNMP agent: on each control byte "N" arriving on the host's
// control socket it consumes every finished trap file (*.trp) of the spool
// directory: reads it, records it (hyxsim/daemons.h) and removes it.
// Temporary files (*.tmp) are a writer's work in progress and are left alone.
#include <dirent.h>
#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/hostPaths.h"
#include "daemon.h"
#include "hyxsim/daemons.h"

namespace {

constexpr char kName[] = "hyxsim-snmp-agent";
using Json = nlohmann::json;

bool EndsWith(const std::string &s, const char *suffix) {
  size_t n = strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

std::vector<std::string> Lines(const std::string &text, bool &terminated) {
  std::vector<std::string> lines;
  size_t at = 0;
  for (size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
    lines.push_back(text.substr(at, nl - at));
  terminated = at == text.size();
  if (!terminated) lines.push_back(text.substr(at));
  return lines;
}

bool Number(const std::string &s, uint64_t &value) {
  if (s.empty() || s.size() > 10 || s.find_first_not_of("0123456789") != std::string::npos) return false;
  value = std::stoull(s);
  return value <= 0xffffffffu;
}

// A trap file: ".enterprise", generic, specific, ".oid|type|value" lines, ";".
Json Parse(const std::string &text) {
  bool terminated = false;
  std::vector<std::string> lines = Lines(text, terminated);
  Json record = {{"lines", lines}};
  auto fail = [&](const std::string &why) {
    record["error"] = why;
    return record;
  };
  if (!terminated) return fail("last line without a line feed");
  if (lines.size() < 4) return fail("fewer than four lines");
  if (lines[0].size() < 2 || lines[0][0] != '.') return fail("enterprise line without a leading dot");
  uint64_t generic, specific;
  if (!Number(lines[1], generic) || !Number(lines[2], specific))
    return fail("generic or specific not a number");
  if (lines.back() != ";") return fail("no terminator line");
  Json bindings = Json::array();
  for (size_t i = 3; i + 1 < lines.size(); ++i) {
    const std::string &line = lines[i];
    size_t first = line.find('|'), second = first == std::string::npos ? first : line.find('|', first + 1);
    if (line.empty() || line[0] != '.' || second == std::string::npos)
      return fail("binding line " + std::to_string(i + 1) + " is not .oid|type|value");
    bindings.push_back({{"oid", line.substr(1, first - 1)},
                        {"type", line.substr(first + 1, second - first - 1)},
                        {"value", line.substr(second + 1)}});
  }
  record["enterpriseOid"] = lines[0].substr(1);
  record["generic"] = generic;
  record["specific"] = specific;
  record["bindings"] = bindings;
  return record;
}

void ConsumeSpool(daemon_kit::Records &records) {
  DIR *dir = opendir(hostPaths::kSnmpSpoolDir);
  if (dir == nullptr)
    return records.Add({{"error", std::string("cannot open the spool: ") + strerror(errno)}});
  std::vector<std::string> names;
  while (struct dirent *entry = readdir(dir))
    if (EndsWith(entry->d_name, ".trp")) names.push_back(entry->d_name);
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string &name : names) {
    std::string path = std::string(hostPaths::kSnmpSpoolDir) + "/" + name;
    Json record = {{"file", name}};
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      record["error"] = "not a regular file";
      if (fd >= 0) close(fd);
      records.Add(record);
      continue;
    }
    char mode[8];
    snprintf(mode, sizeof mode, "%04o", st.st_mode & 07777);
    std::string text;
    char buffer[65536];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    close(fd);
    record.update(Parse(text));
    record["mode"] = mode;
    // Gone before it is recorded: whoever reads the record may reuse the name.
    unlink(path.c_str());
    records.Add(record);
  }
}

}  // namespace

int main(int argc, char **argv) {
  daemon_kit::InstallStopHandler();
  daemon_kit::Records records(kName, HYXSIM_SNMP_AGENT_RECORDS);
  int listener = daemon_kit::Listen(kName, hostPaths::kSnmpControlSocket);
  daemon_kit::SignalReady(argc, argv);

  std::vector<int> connections;
  for (bool last = false; !last;) {
    last = daemon_kit::stopRequested;
    std::vector<pollfd> fds{{listener, POLLIN, 0}};
    for (int fd : connections) fds.push_back({fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), last ? 0 : 1000) < 0 && errno != EINTR) daemon_kit::Die(kName, "poll");
    for (int fd; (fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) connections.push_back(fd);
    for (size_t i = 0; i < connections.size();) {
      char bytes[256];
      ssize_t n;
      bool open = true;
      while ((n = recv(connections[i], bytes, sizeof bytes, MSG_DONTWAIT)) != 0) {
        if (n < 0) {
          open = errno == EAGAIN || errno == EINTR;
          break;
        }
        for (ssize_t k = 0; k < n; ++k) {
          if (bytes[k] == 'N')
            ConsumeSpool(records);
          else
            records.Add({{"control", std::string(1, bytes[k])}});
        }
      }
      if (n == 0 || !open) {
        close(connections[i]);
        connections.erase(connections.begin() + static_cast<long>(i));
      } else {
        ++i;
      }
    }
  }
  return 0;
}
