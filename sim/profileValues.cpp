// Profile values: number and byte decoders and the object reader with named
// faults.  Shared by the simulator's section loaders and by hyxsim, which
// reads the sections it lays out in the sandbox (volumes) the same way.
#include "profileValues.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <regex>
#include <set>

namespace hyxsim {

bool DecodeNumber(const nlohmann::json &value, uint64_t &out, std::string &error) {
  if (value.is_boolean()) {
    out = value.get<bool>();
  } else if (value.is_number_unsigned()) {
    out = value.get<uint64_t>();
  } else if (value.is_number_integer()) {
    out = static_cast<uint64_t>(value.get<int64_t>());
  } else if (value.is_number_float()) {
    // JSON gives numbers beyond 64 bits, and fractions, as floating point.
    double number = value.get<double>();
    if (number != std::trunc(number) || number < -0x1p63 || number >= 0x1p64) {
      error = value.dump() + " is not a whole number of at most 64 bits";
      return false;
    }
    out = number < 0 ? static_cast<uint64_t>(static_cast<int64_t>(number)) : static_cast<uint64_t>(number);
  } else if (value.is_string()) {
    const std::string &text = value.get_ref<const std::string &>();
    char *end = nullptr;
    errno = 0;
    out = !text.empty() && text[0] == '-' ? static_cast<uint64_t>(strtoll(text.c_str(), &end, 0))
                                          : strtoull(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || errno == ERANGE) {
      error = "\"" + text + "\" is not a number";
      return false;
    }
  } else {
    error = value.dump() + " is not a number";
    return false;
  }
  return true;
}

bool IsNegative(const nlohmann::json &value) {
  if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<int64_t>() < 0;
  if (value.is_number_float()) return value.get<double>() < 0;
  return value.is_string() && value.get_ref<const std::string &>().rfind("-", 0) == 0;
}

bool DecodeBytes(const nlohmann::json &value, std::vector<uint8_t> &out, std::string &error) {
  out.clear();
  if (value.is_array()) {
    for (const auto &item : value) {
      uint64_t number;
      if (!DecodeNumber(item, number, error)) return false;
      if (number > 0xff) {
        error = item.dump() + " is not a byte";
        return false;
      }
      out.push_back(static_cast<uint8_t>(number));
    }
    return true;
  }
  if (!value.is_string()) {
    error = "takes text, \"hex:...\" or a list of numbers";
    return false;
  }
  const std::string &text = value.get_ref<const std::string &>();
  if (text.rfind("hex:", 0) != 0) {
    out.assign(text.begin(), text.end());
    return true;
  }
  std::string digits;
  for (char c : text.substr(4))
    if (!isspace(static_cast<unsigned char>(c))) digits += c;
  if (digits.size() % 2 != 0) {
    error = "odd number of hex digits";
    return false;
  }
  for (size_t i = 0; i < digits.size(); i += 2) {
    if (!isxdigit(static_cast<unsigned char>(digits[i])) ||
        !isxdigit(static_cast<unsigned char>(digits[i + 1]))) {
      error = "bad hex digits \"" + digits.substr(i, 2) + "\"";
      return false;
    }
    out.push_back(static_cast<uint8_t>(strtoul(digits.substr(i, 2).c_str(), nullptr, 16)));
  }
  return true;
}

namespace {

// Every field a loader asked about, list indexes as "[]": what the
// simulator accepts, for the host-profile reference to be checked against.
std::set<std::string> &FieldsAsked() {
  static std::set<std::string> fields;
  return fields;
}

}  // namespace

void NoteField(const std::string &where, const char *field) {
  static const std::regex index("\\[[0-9]+\\]");
  // The profile's own top level ("profile.mockup") is named as the section.
  if (where == "profile" || where.empty())
    FieldsAsked().insert(field);
  else
    FieldsAsked().insert(std::regex_replace(where, index, "[]") + "." + field);
}

void ForEachProfileField(void (*each)(const char *path, void *context), void *context) {
  for (const std::string &path : FieldsAsked()) each(path.c_str(), context);
}

ProfileObject::ProfileObject(const nlohmann::json *object, std::string where)
    : object_(object), where_(std::move(where)) {
  if (object_ != nullptr && !object_->is_object()) fault_ = where_ + ": takes an object";
}

bool ProfileObject::Has(const char *field) const {
  NoteField(where_, field);
  return object_ != nullptr && object_->is_object() && object_->contains(field);
}

const nlohmann::json *ProfileObject::Field(const char *field) {
  NoteField(where_, field);
  read_.emplace_back(field);
  if (!ok() || !Has(field)) return nullptr;
  return &(*object_)[field];
}

void ProfileObject::Fail(const char *field, const std::string &reason) {
  if (ok()) fault_ = where_ + "." + field + ": " + reason;
}

std::string ProfileObject::Text(const char *field, const std::string &fallback) {
  const nlohmann::json *value = Field(field);
  if (value == nullptr) return fallback;
  if (!value->is_string()) {
    Fail(field, "takes text");
    return fallback;
  }
  return value->get<std::string>();
}

bool ProfileObject::Flag(const char *field, bool fallback) {
  const nlohmann::json *value = Field(field);
  if (value == nullptr) return fallback;
  if (!value->is_boolean()) {
    Fail(field, "takes true or false");
    return fallback;
  }
  return value->get<bool>();
}

uint64_t ProfileObject::Number(const char *field, uint64_t fallback, uint64_t max) {
  const nlohmann::json *value = Field(field);
  if (value == nullptr) return fallback;
  uint64_t number;
  std::string error;
  if (!DecodeNumber(*value, number, error)) {
    Fail(field, error);
    return fallback;
  }
  if (IsNegative(*value)) {
    Fail(field, value->dump() + " is below 0");
    return fallback;
  }
  if (number > max) {
    Fail(field, value->dump() + " is larger than " + std::to_string(max));
    return fallback;
  }
  return number;
}

std::vector<uint8_t> ProfileObject::Bytes(const char *field) {
  std::vector<uint8_t> bytes;
  const nlohmann::json *value = Field(field);
  std::string error;
  if (value != nullptr && !DecodeBytes(*value, bytes, error)) Fail(field, error);
  return bytes;
}

std::string ProfileObject::Choice(const char *field, std::initializer_list<const char *> choices,
                                  const char *fallback) {
  std::string text = Text(field, fallback);
  for (const char *choice : choices)
    if (text == choice) return text;
  std::string known;
  for (const char *choice : choices) known += std::string(known.empty() ? "" : ", ") + "\"" + choice + "\"";
  Fail(field, "\"" + text + "\" is none of " + known);
  return fallback;
}

const nlohmann::json *ProfileObject::Raw(const char *field) { return Field(field); }

bool ProfileObject::Done() {
  if (ok() && object_ != nullptr)
    for (const auto &item : object_->items())
      if (std::find(read_.begin(), read_.end(), item.key()) == read_.end()) {
        Fail(item.key().c_str(), "unknown field");
        break;
      }
  return ok();
}

}  // namespace hyxsim
