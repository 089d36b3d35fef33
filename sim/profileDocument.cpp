#include "profileDocument.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace hyxsim {
namespace {

// A chain longer than this is taken for a loop.
constexpr int kMaxBaseDepth = 8;
// Far beyond what any host's profile holds, and small enough that a broken
// or hostile file costs little to refuse.
constexpr size_t kMaxFileSize = size_t{16} << 20;
constexpr size_t kMaxNesting = 64;

bool ReadFile(const std::string &path, std::string &text) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[8192];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0 && text.size() <= kMaxFileSize)
    text.append(buffer, static_cast<size_t>(n));
  if (text.size() > kMaxFileSize) {
    n = -1;
    errno = EFBIG;
  }
  int saved = errno;
  close(fd);
  errno = saved;
  return n == 0;
}

// Checks a profile's text before it is parsed into a document: well-formed
// JSON (a fault is placed by line and column), no field twice in one object,
// and nesting bounded, so that no file can make the reader run out of stack
// or memory.
class Checker : public nlohmann::json_sax<nlohmann::json> {
 public:
  explicit Checker(const std::string &text) : text_(text) {}
  const std::string &Fault() const { return fault_; }

  bool null() override { return Value(); }
  bool boolean(bool) override { return Value(); }
  bool number_integer(number_integer_t) override { return Value(); }
  bool number_unsigned(number_unsigned_t) override { return Value(); }
  bool number_float(number_float_t, const string_t &) override { return Value(); }
  bool string(string_t &) override { return Value(); }
  bool binary(binary_t &) override { return Value(); }
  bool start_object(std::size_t) override {
    if (!Open()) return false;
    levels_.push_back({true, {}, {}});
    return true;
  }
  bool key(string_t &key) override {
    Level &level = levels_.back();
    if (std::find(level.keys.begin(), level.keys.end(), key) != level.keys.end()) {
      fault_ = Where() + "\"" + Cut(key) + "\" appears twice";
      return false;
    }
    level.keys.push_back(key);
    level.current = key;
    return true;
  }
  bool end_object() override { return Close(); }
  bool start_array(std::size_t) override {
    if (!Open()) return false;
    levels_.push_back({false, {}, {}});
    return true;
  }
  bool end_array() override { return Close(); }
  bool parse_error(std::size_t position, const std::string &,
                   const nlohmann::detail::exception &ex) override {
    // The parser's own words, after its "[json.exception...] " tag and its
    // own count of the place, which is given here as line:column.
    std::string what = ex.what();
    size_t colon = what.find(": ");
    std::string reason = colon == std::string::npos ? what : what.substr(colon + 2);
    size_t line = 1, column = 0;
    for (size_t i = 0; i + 1 < position && i < text_.size(); ++i) {
      if (text_[i] == '\n') {
        ++line;
        column = 0;
      } else {
        ++column;
      }
    }
    fault_ = "line " + std::to_string(line) + ", column " + std::to_string(column + 1) + ": " + Cut(reason);
    return false;
  }

 private:
  struct Level {
    bool object;
    std::vector<std::string> keys;
    std::string current;
  };

  static std::string Cut(const std::string &text) {
    return text.size() <= 80 ? text : text.substr(0, 80) + "...";
  }
  // The field path of the value being read ("hsi.timer_info: ").
  std::string Where() const {
    std::string where;
    for (size_t i = 0; i + 1 < levels_.size(); ++i)
      if (levels_[i].object) where += (where.empty() ? "" : ".") + Cut(levels_[i].current);
    return where.empty() ? "" : where + ": ";
  }
  bool Value() { return true; }
  bool Open() {
    if (levels_.size() < kMaxNesting) return true;
    fault_ = "objects and lists nested more than " + std::to_string(kMaxNesting) + " deep";
    return false;
  }
  bool Close() {
    levels_.pop_back();
    return true;
  }

  const std::string &text_;
  std::vector<Level> levels_;
  std::string fault_;
};

bool Read(const std::string &path, nlohmann::json &document, std::string &error, int depth) {
  std::string text;
  if (!ReadFile(path, text)) {
    error = path + ": " +
            (errno == EFBIG ? "larger than " + std::to_string(kMaxFileSize >> 20) + " MiB"
                            : std::string(strerror(errno)));
    return false;
  }
  Checker checker(text);
  if (!nlohmann::json::sax_parse(text, &checker, nlohmann::json::input_format_t::json, true, true)) {
    error = path + ": " + checker.Fault();
    return false;
  }
  nlohmann::json own = nlohmann::json::parse(text, nullptr, false, true);
  if (own.is_discarded() || !own.is_object()) {
    error = path + ": not a JSON object";
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
  // A relative base is read from the directory of the file that names it.
  std::string basePath = base->get<std::string>();
  if (basePath[0] != '/') {
    size_t slash = path.rfind('/');
    basePath = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + basePath;
  }
  nlohmann::json inherited;
  if (!Read(basePath, inherited, error, depth + 1)) {
    error = path + ": base \"" + base->get<std::string>() + "\": " + error;
    return false;
  }
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
