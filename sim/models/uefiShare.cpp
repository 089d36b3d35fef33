#include "uefiShare.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

#include "../sandboxPaths.h"

namespace hyxsim {
namespace {

// One JSON list of {"name", "bytes"}: the variables a sandbox holds.
const std::string &StorePath() {
  static const std::string *path = new std::string(std::string(kSandboxStateDir) + "/uefi-variables.json");
  return *path;
}

// What this process last read or wrote.
std::string &LastText() {
  static auto *text = new std::string;
  return *text;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (off_t at = 0;;) {
    ssize_t n = pread(fd, buffer, sizeof buffer, at);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
    at += n;
  }
  return text;
}

}  // namespace

UefiShare::UefiShare(std::vector<HsiEntry> &entries) : entries_(entries) {
  // Only a sandbox has the state directory; nothing is created outside one.
  if (access(kSandboxStateDir, W_OK) != 0) return;
  fd_ = open(StorePath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) return;
  if (flock(fd_, LOCK_EX) != 0) {
    close(fd_);
    fd_ = -1;
    return;
  }
  std::string text = ReadAll(fd_);
  if (text.empty()) {  // the sandbox's first call
    Save();
    return;
  }
  if (text == LastText()) return;  // nobody wrote since this process did
  nlohmann::json stored = nlohmann::json::parse(text, nullptr, false);
  if (!stored.is_array()) return;
  std::vector<HsiEntry> loaded;
  for (const nlohmann::json &item : stored) {
    if (!item.is_object()) return;
    auto name = item.find("name"), bytes = item.find("bytes");
    if (name == item.end() || !name->is_string() || bytes == item.end() || !bytes->is_array()) return;
    HsiEntry entry;
    entry.instances.push_back(HsiValue{false, 0, name->get<std::string>()});
    entry.hasValue = true;
    for (const nlohmann::json &byte : *bytes) {
      if (!byte.is_number_unsigned() || byte.get<uint64_t>() > 0xff) return;
      entry.bytes.push_back(static_cast<uint8_t>(byte.get<uint64_t>()));
    }
    loaded.push_back(std::move(entry));
  }
  entries_ = std::move(loaded);
  LastText() = std::move(text);
}

UefiShare::~UefiShare() {
  if (fd_ >= 0) close(fd_);  // and with it the lock
}

void UefiShare::Save() {
  if (fd_ < 0) return;
  nlohmann::json stored = nlohmann::json::array();
  for (const HsiEntry &entry : entries_)
    if (entry.hasValue && entry.instances.size() == 1 && !entry.instances[0].isInt)
      stored.push_back({{"name", entry.instances[0].text}, {"bytes", entry.bytes}});
  std::string text = stored.dump();
  if (ftruncate(fd_, 0) != 0) return;
  for (size_t done = 0; done < text.size();) {
    ssize_t n = pwrite(fd_, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
  LastText() = std::move(text);
}

}  // namespace hyxsim
