#include "profileDocument.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace hyxsim {
namespace {

// A chain longer than this is taken for a loop.
constexpr int kMaxBaseDepth = 8;

bool ReadFile(const std::string &path, std::string &text) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[8192];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  int saved = errno;
  close(fd);
  errno = saved;
  return n == 0;
}

bool Read(const std::string &path, nlohmann::json &document, std::string &error, int depth) {
  std::string text;
  if (!ReadFile(path, text)) {
    error = "cannot read " + path + ": " + strerror(errno);
    return false;
  }
  nlohmann::json own = nlohmann::json::parse(text, nullptr, false, true);
  if (own.is_discarded() || !own.is_object()) {
    error = path + " is not a JSON object";
    return false;
  }
  auto base = own.find("base");
  if (base == own.end()) {
    document = std::move(own);
    return true;
  }
  if (!base->is_string() || base->get_ref<const std::string &>().empty()) {
    error = path + ": base: takes the path of a profile";
    return false;
  }
  if (depth >= kMaxBaseDepth) {
    error = path + ": base: more than " + std::to_string(kMaxBaseDepth) + " profiles deep (a loop?)";
    return false;
  }
  std::string basePath = base->get<std::string>();
  if (basePath[0] != '/') {
    size_t slash = path.rfind('/');
    basePath = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + basePath;
  }
  nlohmann::json inherited;
  if (!Read(basePath, inherited, error, depth + 1)) return false;
  own.erase("base");
  inherited.merge_patch(own);
  document = std::move(inherited);
  return true;
}

}  // namespace

bool ReadProfileDocument(const std::string &path, nlohmann::json &document, std::string &error) {
  return Read(path, document, error, 0);
}

}  // namespace hyxsim
