// The sandbox's observation daemon: listens on the host's observation
// socket, takes every message off each connection's stream, decodes it
// (header, id, text, argument records, string data), renders the text with
// its arguments and records it (hyxsim/daemons.h).  It never answers.
//
// The decoding here is the daemon's own, written from the wire layout, so
// that the library's encoder is checked against an independent reader.
#include <poll.h>
#include <sys/socket.h>

#include <cinttypes>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/hostPaths.h"
#include "daemon.h"
#include "hyxsim/daemons.h"

namespace {

constexpr char kName[] = "hyxsim-hobd";
constexpr size_t kHeaderSize = 32, kRecordSize = 32, kMaxMessage = 8192;

using Json = nlohmann::json;

// Id and text fields: the smallest multiple of 8 above the text's length.
size_t HobFieldSize(size_t n) { return (n + 8) & ~size_t{7}; }

template <typename T>
T Load(const uint8_t *p) {
  T v;
  memcpy(&v, p, sizeof v);
  return v;
}

struct Arg {
  uint32_t type;
  uint64_t value;
  uint32_t errorKind, errorNumber;
  std::string text;  // narrow strings, or a wide string as UTF-8
  bool null = false;
};

void AppendUtf8(std::string &out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xc0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xe0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | ((c >> 18) & 0x07));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  }
}

// A NUL-padded field: the text before its first NUL, which must be there.
bool Field(const uint8_t *p, size_t size, std::string &out) {
  const void *nul = memchr(p, 0, size);
  if (nul == nullptr) return false;
  out.assign(reinterpret_cast<const char *>(p), static_cast<const uint8_t *>(nul) - p);
  return true;
}

// One printf conversion of the text, rendered from its record.
std::string RenderOne(const std::string &flags, const std::string &width, const std::string &precision,
                      const std::string &length, char conversion, const Arg &arg) {
  std::string conv = "%" + flags + width + precision;
  char out[4096];
  switch (conversion) {
    case 'D':
      conversion = 'd';
      break;
    case 'O':
      conversion = 'o';
      break;
    case 'U':
      conversion = 'u';
      break;
    case 'C':
      conversion = 'c';
      break;
    case 'S':
      conversion = 's';
      break;
    default:
      break;
  }
  switch (arg.type) {
    case 1: {
      std::string mod = (length == "h" || length == "hh") ? length : "";
      snprintf(out, sizeof out, (conv + mod + conversion).c_str(), static_cast<int32_t>(arg.value));
      break;
    }
    case 2:
      snprintf(out, sizeof out, (conv + "ll" + conversion).c_str(), static_cast<long long>(arg.value));
      break;
    case 4:
      snprintf(out, sizeof out, (conv + "llX").c_str(), static_cast<unsigned long long>(arg.value));
      break;
    case 5: {
      double d;
      memcpy(&d, &arg.value, sizeof d);
      snprintf(out, sizeof out, (conv + conversion).c_str(), d);
      break;
    }
    case 6:
    case 8:
    case 9:
      snprintf(out, sizeof out, (conv + "s").c_str(), arg.null ? "(null)" : arg.text.c_str());
      break;
    default:
      return "<?>";
  }
  return out;
}

// The text with every conversion replaced by its argument.
bool Render(const std::string &text, const std::vector<Arg> &args, std::string &out, std::string &error) {
  size_t next = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (++i >= text.size()) return error = "lone % at the end", false;
    if (text[i] == '%') {
      out += '%';
      continue;
    }
    size_t position = 0;
    size_t digits = i;
    while (digits < text.size() && isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
    if (digits > i && digits < text.size() && text[digits] == '$') {
      if (digits - i > 9) return error = "position out of range", false;
      position = std::stoul(text.substr(i, digits - i));
      i = digits + 1;
    } else {
      position = ++next;
    }
    std::string flags, width, precision, length;
    while (i < text.size() && strchr("-+ #0'", text[i])) {
      if (text[i] != '\'') flags += text[i];
      ++i;
    }
    while (i < text.size() && isdigit(static_cast<unsigned char>(text[i]))) width += text[i++];
    if (i < text.size() && text[i] == '.') {
      precision += text[i++];
      while (i < text.size() && isdigit(static_cast<unsigned char>(text[i]))) precision += text[i++];
    }
    while (i < text.size() && strchr("hlLqjzZtI346", text[i])) length += text[i++];
    if (i >= text.size()) return error = "conversion without a letter", false;
    if (position == 0 || position > args.size())
      return error = "conversion " + std::to_string(position) + " has no argument", false;
    out += RenderOne(flags, width, precision, length, text[i], args[position - 1]);
  }
  return true;
}

// Decodes one whole message of `size` bytes into its record.
Json Decode(const uint8_t *m, size_t size) {
  Json record;
  if (memcmp(m, "HobMag1\0", 8) != 0) return {{"error", "bad magic"}};
  uint64_t uptime = Load<uint64_t>(m + 8);
  uint32_t length = Load<uint32_t>(m + 16), argCount = Load<uint32_t>(m + 20);
  uint32_t idSize = Load<uint32_t>(m + 24), textSize = Load<uint32_t>(m + 28);
  if (length != size) return {{"error", "length field disagrees with the message"}};
  if (idSize == 0 || textSize == 0 || idSize % 8 || textSize % 8)
    return {{"error", "field sizes not multiples of 8"}};
  uint64_t arrayStart = kHeaderSize + uint64_t{idSize} + textSize;
  uint64_t dataStart = arrayStart + uint64_t{argCount} * kRecordSize;
  if (dataStart > size) return {{"error", "fields and records run past the message"}};
  std::string id, text;
  if (!Field(m + kHeaderSize, idSize, id) || !Field(m + kHeaderSize + idSize, textSize, text))
    return {{"error", "field without a NUL"}};
  if (HobFieldSize(id.size()) != idSize || HobFieldSize(text.size()) != textSize)
    return {{"error", "field padded to the wrong size"}};

  // String data follows the records back to back, in argument order.
  std::vector<Arg> args;
  uint64_t cursor = dataStart;
  Json jsonArgs = Json::array();
  for (uint32_t i = 0; i < argCount; ++i) {
    const uint8_t *r = m + arrayStart + uint64_t{i} * kRecordSize;
    Arg arg{Load<uint32_t>(r), Load<uint64_t>(r + 8), Load<uint32_t>(r + 16), Load<uint32_t>(r + 20), {}};
    if (Load<uint32_t>(r + 4) || Load<uint32_t>(r + 24) || Load<uint32_t>(r + 28))
      return {{"error", "record " + std::to_string(i + 1) + " has non-zero padding"}};
    Json j = {{"type", arg.type}};
    if (arg.type == 6 || arg.type == 8 || arg.type == 9) {
      uint32_t offset = static_cast<uint32_t>(arg.value);
      if (arg.type != 9) {
        j["offset"] = offset;
        if (offset == 0)
          arg.null = true;
        else if (offset != cursor - arrayStart)
          return {{"error", "string " + std::to_string(i + 1) + " is not where its offset says"}};
      } else {
        j["errorNumber"] = arg.errorNumber;
        if (arg.errorKind != 1) return {{"error", "error text without error kind 1"}};
      }
      if (!arg.null) {
        if (arg.type == 8) {
          for (;; cursor += 4) {
            if (cursor + 4 > size) return {{"error", "wide string runs past the message"}};
            uint32_t c = Load<uint32_t>(m + cursor);
            if (c == 0) break;
            AppendUtf8(arg.text, c);
          }
          cursor += 4;
        } else {
          const void *nul = memchr(m + cursor, 0, size - cursor);
          if (nul == nullptr) return {{"error", "string runs past the message"}};
          size_t n = static_cast<const uint8_t *>(nul) - (m + cursor);
          arg.text.assign(reinterpret_cast<const char *>(m + cursor), n);
          cursor += n + 1;
        }
        j["value"] = arg.text;
      } else {
        j["value"] = nullptr;
      }
    } else if (arg.type == 1) {
      j["value"] = static_cast<int32_t>(arg.value);
    } else if (arg.type == 2) {
      j["value"] = static_cast<int64_t>(arg.value);
    } else if (arg.type == 4) {
      j["value"] = arg.value;
    } else if (arg.type == 5) {
      double d;
      memcpy(&d, &arg.value, sizeof d);
      j["value"] = d;
    } else {
      return {{"error", "record " + std::to_string(i + 1) + " has type " + std::to_string(arg.type)}};
    }
    args.push_back(arg);
    jsonArgs.push_back(j);
  }
  if (cursor != size) return {{"error", "bytes after the last string"}};
  std::string message, error;
  if (!Render(text, args, message, error)) return {{"error", "text cannot be rendered: " + error}};
  return {{"length", length}, {"uptimeUs", uptime},   {"argCount", argCount},
          {"idSize", idSize}, {"textSize", textSize}, {"id", id},
          {"text", text},     {"args", jsonArgs},     {"message", message}};
}

struct Connection {
  int fd;
  uint64_t number;
  std::vector<uint8_t> bytes;
};

// Takes every whole message off the connection's bytes.  False when the
// stream cannot be a message stream any more.
bool Drain(Connection &c, daemon_kit::Records &records) {
  size_t at = 0;
  bool ok = true;
  while (c.bytes.size() - at >= kHeaderSize) {
    uint32_t length = Load<uint32_t>(c.bytes.data() + at + 16);
    if (length < kHeaderSize || length > kMaxMessage) {
      records.Add(
          {{"connection", c.number}, {"error", "length " + std::to_string(length) + " out of range"}});
      ok = false;
      break;
    }
    if (c.bytes.size() - at < length) break;
    Json record = Decode(c.bytes.data() + at, length);
    Json line = {{"connection", c.number}};
    line.update(record);
    records.Add(line);
    at += length;
  }
  c.bytes.erase(c.bytes.begin(), c.bytes.begin() + static_cast<long>(at));
  return ok;
}

// Reads what is there; false at the end of the stream or on an error.
bool ReadSome(Connection &c) {
  uint8_t buffer[65536];
  for (;;) {
    ssize_t n = recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) {
      c.bytes.insert(c.bytes.end(), buffer, buffer + n);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    return false;
  }
}

volatile sig_atomic_t paused = 0, cutRequested = 0;

// SIGUSR1 stops the daemon reading and accepting (the writers' queues fill),
// a second SIGUSR1 resumes; SIGUSR2 closes every open connection mid-stream.
void InstallFaultHandlers() {
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = [](int) { paused = !paused; };
  sigaction(SIGUSR1, &action, nullptr);
  action.sa_handler = [](int) { cutRequested = 1; };
  sigaction(SIGUSR2, &action, nullptr);
}

}  // namespace

int main(int argc, char **argv) {
  daemon_kit::InstallStopHandler();
  InstallFaultHandlers();
  daemon_kit::Records records(kName, HYXSIM_HOBD_RECORDS);
  int listener = daemon_kit::Listen(kName, hostPaths::kObservationSocket);
  daemon_kit::SignalReady(argc, argv);

  std::vector<Connection> connections;
  uint64_t accepted = 0;
  // After a stop request the socket's name goes and the listener refuses
  // new connections; one more round takes every connection already made
  // and what its writer got onto the stream before the daemon stopped
  // reading it (a writer still sending then fails instead of losing its
  // message silently).
  for (bool last = false; !last;) {
    last = daemon_kit::stopRequested;
    if (last) {
      unlink(hostPaths::kObservationSocket);
      shutdown(listener, SHUT_RDWR);
    }
    bool idle = paused && !last;
    std::vector<pollfd> fds{{listener, POLLIN, 0}};
    if (!idle)
      for (const Connection &c : connections) fds.push_back({c.fd, POLLIN, 0});
    int wait = last ? 0 : (idle ? 100 : 1000);
    if (poll(idle ? nullptr : fds.data(), idle ? 0 : fds.size(), wait) < 0 && errno != EINTR)
      daemon_kit::Die(kName, "poll");
    bool cut = cutRequested || last;
    cutRequested = 0;
    if (idle && !cut) continue;
    for (;;) {
      int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) break;
      connections.push_back({fd, ++accepted, {}});
    }
    for (size_t i = 0; i < connections.size();) {
      Connection &c = connections[i];
      if (cut) shutdown(c.fd, SHUT_RD);  // the writer's next send fails; what is queued is still read
      bool open = ReadSome(c) && !cut;
      bool ok = Drain(c, records);
      if (!open || !ok) {
        if (ok && !c.bytes.empty())
          records.Add({{"connection", c.number},
                       {"error", std::to_string(c.bytes.size()) + " bytes of a cut message"}});
        close(c.fd);
        connections.erase(connections.begin() + static_cast<long>(i));
      } else {
        ++i;
      }
    }
  }
  return 0;
}
