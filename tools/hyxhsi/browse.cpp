// hyxhsi ls, get and types: a browser of the host's system-information
// tree, through the library's client.  Values are decoded through the
// nodes' type descriptors: structures field by field, enumerations by name
// (bit flags as the list of names set), arrays element by element
// (character arrays as text), scalars with their format.
//
// PATH names a node: its names joined by "/" ("net/pNics/properties"); a
// module's node is "MODULE:path" ("nfs41client:mounts/info"), "MODULE:" the
// module's top.  ARGS are the instance values, outermost first (integers
// for integer-keyed instance nodes).
//
// --json shapes:
//   ls PATH [ARGS]      {"path", "node": NODE, "children": [NODE...],
//                        "modules": [{"name", "id", "nodes"}] (the module root),
//                        "instances": [value...] (an instance node whose
//                        outer ARGS are all given)}
//     NODE: {"name", "path", "id", "module", "leaf", "instance", "integerKey",
//            "variableLength", "moduleRoot", "recursive", "getSize",
//            "getType": type name or null}
//   get PATH [ARGS]     {"path", "instances": [value...], "type": name or null,
//                        "length", "value": VALUE, "hex": the bytes}
//     VALUE: struct {field: VALUE}, array [VALUE...] (character arrays as
//            text), enum the value's name (a number when it has none; bit
//            flags [name...]), scalar a number (a text for characters)
//   types PATH          {"path", "get": TYPE, "setInput": TYPE,
//                        "setOutput": TYPE}, each null when the node has none
//     TYPE: {"name", "kind": "scalar"|"array"|"struct"|"enum", "size",
//            "format" (scalar) or "description", "element": TYPE (array),
//            "fields": [{"name", "offset", "description", "type": TYPE}],
//            "values": [{"name", "value", "description"}], "bitFlags"}
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bytes.h"
#include "hsiWalk.h"
#include "hyxhsi.h"
#include "hyxsysinfo/hsiNodes.h"
#include "hyxsysinfo/hsiTables.h"
#include "json.h"

namespace hyxhsi {
namespace {

// Descriptors nest; a deeper tree is cut off (a snapshot is not trusted).
constexpr int kMaxTypeDepth = 32;

const char *KindName(uint32_t kind) {
  switch (kind) {
    case HSI_TYPE_SCALAR:
      return "scalar";
    case HSI_TYPE_ARRAY:
      return "array";
    case HSI_TYPE_STRUCT:
      return "struct";
    case HSI_TYPE_ENUM:
      return "enum";
  }
  return "unknown";
}

// ---- values ------------------------------------------------------------------

struct Decoded {
  enum Kind { kText, kSigned, kUnsigned, kObject, kList } kind = kText;
  std::string text;  // the scalar as its format shows it; enum names; character arrays
  int64_t number = 0;
  uint64_t unsignedNumber = 0;
  std::vector<std::pair<std::string, Decoded>> members;
  std::vector<Decoded> items;
};

uint64_t LittleEndian(const uint8_t *bytes, size_t size) {
  uint64_t value = 0;
  for (size_t i = 0; i < size && i < 8; i++) value |= uint64_t{bytes[i]} << (8 * i);
  return value;
}

int64_t SignExtend(uint64_t value, uint32_t size) {
  if (size >= 8 || size == 0) return static_cast<int64_t>(value);
  uint64_t sign = uint64_t{1} << (8 * size - 1);
  return static_cast<int64_t>((value ^ sign) - sign);
}

// One conversion of a descriptor's printf format, rebuilt from the parts
// this tool accepts: a format from a snapshot file is never handed to
// printf as it stands.
struct Conversion {
  std::string directive;  // "%" flags width precision, without length or conversion
  char conversion = 'u';
};

// Formats value as format says: literal text is copied, each conversion
// of an integer kind prints value, anything else prints it in decimal.
std::string FormatScalar(const char *format, uint64_t value, uint32_t size, bool *isSigned, bool *isChar) {
  *isSigned = false;
  *isChar = false;
  if (format == nullptr) format = "%u";
  std::string out;
  for (const char *p = format; *p != '\0';) {
    if (*p != '%') {
      out += *p++;
      continue;
    }
    if (p[1] == '%') {
      out += '%';
      p += 2;
      continue;
    }
    Conversion c;
    c.directive = "%";
    p++;
    while (*p != '\0' && strchr("#0- +", *p) && c.directive.size() < 6) c.directive += *p++;
    for (int digits = 0; *p >= '0' && *p <= '9'; p++)
      if (digits++ < 2) c.directive += *p;
    if (*p == '.') {
      c.directive += *p++;
      for (int digits = 0; *p >= '0' && *p <= '9'; p++)
        if (digits++ < 2) c.directive += *p;
    }
    while (*p != '\0' && strchr("hlLqjzt", *p)) p++;
    c.conversion = *p != '\0' ? *p++ : 'u';
    char text[96];
    switch (c.conversion) {
      case 'd':
      case 'i':
        *isSigned = true;
        snprintf(text, sizeof text, (c.directive + "lld").c_str(),
                 static_cast<long long>(SignExtend(value, size)));
        break;
      case 'u':
      case 'x':
      case 'X':
      case 'o':
        snprintf(text, sizeof text, (c.directive + "ll" + c.conversion).c_str(),
                 static_cast<unsigned long long>(value));
        break;
      case 'c':
      case 's':
        *isChar = true;
        snprintf(text, sizeof text, "%c", static_cast<char>(value & 0xff));
        break;
      default:
        snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
    }
    out += text;
  }
  return out;
}

bool IsCharacter(const HsiTypeDef *type) {
  return type && type->kind == HSI_TYPE_SCALAR && type->size == 1 && type->format &&
         (strcmp(type->format, "%s") == 0 || strcmp(type->format, "%c") == 0);
}

Decoded Decode(const HsiTypeDef *type, const uint8_t *bytes, size_t length, int depth) {
  Decoded out;
  size_t size = type ? std::min<size_t>(type->size, length) : length;
  if (type == nullptr || depth > kMaxTypeDepth) {
    out.text = HexText(bytes, size);
    return out;
  }
  switch (type->kind) {
    case HSI_TYPE_SCALAR: {
      uint64_t raw = LittleEndian(bytes, size);
      bool isSigned = false, isChar = false;
      out.text =
          size > 8 ? HexText(bytes, size) : FormatScalar(type->format, raw, type->size, &isSigned, &isChar);
      if (size <= 8 && !isChar) {
        out.kind = isSigned ? Decoded::kSigned : Decoded::kUnsigned;
        out.number = SignExtend(raw, type->size);
        out.unsignedNumber = raw;
      }
      return out;
    }
    case HSI_TYPE_ENUM: {
      uint64_t raw = LittleEndian(bytes, size);
      if (type->bitFlags) {
        out.kind = Decoded::kList;
        uint64_t left = raw;
        for (uint64_t i = 0; i < type->a.count && type->b.values; i++) {
          uint64_t bit = type->b.values[i].value;
          if (bit != 0 && (raw & bit) == bit && type->b.values[i].name) {
            Decoded flag;
            flag.text = type->b.values[i].name;
            out.items.push_back(flag);
            left &= ~bit;
          }
        }
        if (left != 0) {
          Decoded rest;
          char text[32];
          snprintf(text, sizeof text, "0x%" PRIx64, left);
          rest.text = text;
          out.items.push_back(rest);
        }
        return out;
      }
      for (uint64_t i = 0; i < type->a.count && type->b.values; i++) {
        if (type->b.values[i].value == raw && type->b.values[i].name) {
          out.text = type->b.values[i].name;
          return out;
        }
      }
      out.kind = Decoded::kUnsigned;
      out.unsignedNumber = raw;
      out.text = std::to_string(raw);
      return out;
    }
    case HSI_TYPE_ARRAY: {
      const HsiTypeDef *element = type->a.element;
      if (IsCharacter(element)) {
        out.text.assign(reinterpret_cast<const char *>(bytes),
                        strnlen(reinterpret_cast<const char *>(bytes), size));
        return out;
      }
      out.kind = Decoded::kList;
      if (element == nullptr || element->size == 0) return out;
      for (size_t at = 0; at + element->size <= size; at += element->size)
        out.items.push_back(Decode(element, bytes + at, size - at, depth + 1));
      return out;
    }
    case HSI_TYPE_STRUCT: {
      out.kind = Decoded::kObject;
      for (uint64_t i = 0; i < type->a.count && type->b.fields; i++) {
        const HsiFieldDef &field = type->b.fields[i];
        if (field.offset > size) continue;
        out.members.emplace_back(field.name ? field.name : "",
                                 Decode(field.type, bytes + field.offset, size - field.offset, depth + 1));
      }
      return out;
    }
  }
  out.text = HexText(bytes, size);
  return out;
}

bool Simple(const Decoded &value) { return value.kind != Decoded::kObject && value.kind != Decoded::kList; }

void PrintText(const Decoded &value, int indent) {
  if (Simple(value)) {
    printf("%s\n", value.text.c_str());
    return;
  }
  if (value.kind == Decoded::kList) {
    bool flat = true;
    for (const Decoded &item : value.items) flat = flat && Simple(item);
    if (flat) {
      printf("[");
      for (size_t i = 0; i < value.items.size(); i++)
        printf("%s%s", i ? ", " : "", value.items[i].text.c_str());
      printf("]\n");
      return;
    }
    printf("\n");
    for (size_t i = 0; i < value.items.size(); i++) {
      printf("%*s[%zu]: ", indent, "", i);
      PrintText(value.items[i], indent + 2);
    }
    return;
  }
  printf("\n");
  for (const auto &[name, member] : value.members) {
    printf("%*s%s: ", indent, "", name.c_str());
    PrintText(member, indent + 2);
  }
}

void WriteJson(JsonWriter &json, const Decoded &value) {
  switch (value.kind) {
    case Decoded::kText:
      json.String(value.text.c_str());
      return;
    case Decoded::kSigned:
      json.Number(value.number);
      return;
    case Decoded::kUnsigned:
      json.Unsigned(value.unsignedNumber);
      return;
    case Decoded::kList:
      json.BeginArray();
      for (const Decoded &item : value.items) WriteJson(json, item);
      json.EndArray();
      return;
    case Decoded::kObject:
      json.BeginObject();
      for (const auto &[name, member] : value.members) {
        json.Key(name.c_str());
        WriteJson(json, member);
      }
      json.EndObject();
      return;
  }
}

// ---- nodes and arguments -------------------------------------------------------

int FailAt(const std::string &what, HYX_ReturnStatus status) { return Fail(what, status); }

// The instance values ARGS give for the instance nodes of path.
hsiwalk::Args ParseArgs(const std::vector<hsiwalk::Node> &path, int argc, char **argv, bool *ok) {
  hsiwalk::Args args;
  *ok = true;
  for (int i = 0; i < argc; i++) {
    bool integer = path.empty() ? false : path[std::min<size_t>(i, path.size() - 1)].def.integerKey;
    if (!integer) {
      args.push_back(hsiwalk::Arg::String(argv[i]));
      continue;
    }
    char *end = nullptr;
    errno = 0;
    uint64_t value = strtoull(argv[i], &end, 0);
    if (*argv[i] == '\0' || *end != '\0' || errno != 0 || *argv[i] == '-') {
      UsageError(Shown(argv[i]) + ": not an integer instance value");
      *ok = false;
    }
    args.push_back(hsiwalk::Arg::Int(value));
  }
  return args;
}

void ArgJson(JsonWriter &json, const hsiwalk::Arg &arg) {
  if (arg.isString)
    json.String(arg.text.c_str());
  else
    json.Unsigned(arg.value);
}

std::string ArgText(const hsiwalk::Arg &arg) { return arg.isString ? arg.text : std::to_string(arg.value); }

std::string TypeName(const hsiwalk::Node &node) {
  const HsiTypeDef *type = nullptr;
  if (hsiwalk::GetType(node, HSI_TYPE_OF_GET, &type) != HYX_OK || type == nullptr) return "";
  std::string name = type->name ? type->name : "";
  hsiwalk::ReleaseType(type);
  return name;
}

void NodeJson(JsonWriter &json, const hsiwalk::Node &node) {
  json.BeginObject();
  json.Field("name", node.name.c_str());
  json.Field("path", hsiwalk::PathOf(node).c_str());
  json.Field("id", node.id);
  json.Field("module", node.IsModuleNode() ? node.module : 0);
  json.Field("leaf", node.def.leaf != 0);
  json.Field("instance", node.def.instance != 0);
  json.Field("integerKey", node.def.integerKey != 0);
  json.Field("variableLength", node.def.variableLength != 0);
  json.Field("moduleRoot", node.def.moduleRoot != 0);
  json.Field("recursive", (node.def.recursive & 1) != 0);
  json.Field("getSize", node.def.getSize);
  std::string type = TypeName(node);
  json.Key("getType");
  if (type.empty())
    json.Null();
  else
    json.String(type.c_str());
  json.EndObject();
}

std::string NodeSummary(const hsiwalk::Node &node) {
  std::string text = node.def.leaf ? "leaf" : "branch";
  if (node.def.instance) text += node.def.integerKey ? ", instances by number" : ", instances by name";
  if (node.def.recursive & 1) text += ", nesting";
  if (node.def.moduleRoot) text += ", module root";
  if (node.def.variableLength) text += ", variable length";
  std::string type = TypeName(node);
  if (!type.empty()) text += ", " + type;
  if (node.def.getSize) text += " (" + std::to_string(node.def.getSize) + " bytes)";
  return text;
}

int Ls(int argc, char **argv) {
  std::string path = argc > 0 ? argv[0] : "/";
  hsiwalk::Node node;
  HYX_ReturnStatus status = hsiwalk::Resolve(path, node);
  if (status != HYX_OK) return FailAt(path, status);
  std::vector<hsiwalk::Node> children;
  if ((status = hsiwalk::Children(node, children)) != HYX_OK) return FailAt(path, status);

  std::vector<hsiwalk::Module> modules;
  bool moduleRoot = node.def.moduleRoot && !node.IsModuleNode() && node.module == 0;
  if (moduleRoot && (status = hsiwalk::Modules(modules)) != HYX_OK) return FailAt(path, status);

  // An instance node's instances, once ARGS give every instance above it.
  std::vector<hsiwalk::Node> above;
  if ((status = hsiwalk::InstancePath(node, above)) != HYX_OK) return FailAt(path, status);
  if (node.def.instance && !above.empty()) above.pop_back();
  bool ok;
  hsiwalk::Args args = ParseArgs(above, argc > 0 ? argc - 1 : 0, argv + 1, &ok);
  if (!ok) return kUsage;
  bool listed = node.def.instance && !moduleRoot && args.size() >= above.size();
  hsiwalk::Args instances;
  if (listed && (status = hsiwalk::List(node, args, instances)) != HYX_OK) return FailAt(path, status);

  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginObject();
    json.Field("path", hsiwalk::PathOf(node).c_str());
    json.Key("node");
    NodeJson(json, node);
    json.Key("children");
    json.BeginArray();
    for (const hsiwalk::Node &child : children) NodeJson(json, child);
    json.EndArray();
    if (moduleRoot) {
      json.Key("modules");
      json.BeginArray();
      for (const hsiwalk::Module &module : modules) {
        json.BeginObject();
        json.Field("name", module.name.c_str());
        json.Field("id", module.id);
        json.Field("nodes", module.nodeCount);
        json.EndObject();
      }
      json.EndArray();
    }
    if (listed) {
      json.Key("instances");
      json.BeginArray();
      for (const hsiwalk::Arg &arg : instances) ArgJson(json, arg);
      json.EndArray();
    }
    json.EndObject();
    return 0;
  }
  printf("%s: %s\n", hsiwalk::PathOf(node).c_str(), NodeSummary(node).c_str());
  for (const hsiwalk::Node &child : children)
    printf("  %-24s %s\n", child.name.c_str(), NodeSummary(child).c_str());
  for (const hsiwalk::Module &module : modules)
    printf("  %s:%*s module %d, %u nodes\n", module.name.c_str(),
           module.name.size() < 23 ? int(23 - module.name.size()) : 0, "", module.id, module.nodeCount);
  if (listed) {
    printf("instances:");
    for (const hsiwalk::Arg &arg : instances) printf(" %s", ArgText(arg).c_str());
    printf("\n");
  }
  return 0;
}

int Get(int argc, char **argv) {
  if (argc < 1) return UsageError("which node: PATH");
  hsiwalk::Node node;
  HYX_ReturnStatus status = hsiwalk::Resolve(argv[0], node);
  if (status != HYX_OK) return FailAt(argv[0], status);
  if (!node.Readable()) return FailAt(hsiwalk::PathOf(node) + ": not a readable leaf", HYX_BAD_PARAM);
  std::vector<hsiwalk::Node> path;
  if ((status = hsiwalk::InstancePath(node, path)) != HYX_OK) return FailAt(argv[0], status);
  bool ok;
  hsiwalk::Args args = ParseArgs(path, argc - 1, argv + 1, &ok);
  if (!ok) return kUsage;
  std::vector<uint8_t> data;
  if ((status = hsiwalk::Read(node, args, data)) != HYX_OK) return FailAt(hsiwalk::PathOf(node), status);
  const HsiTypeDef *type = nullptr;
  if (hsiwalk::GetType(node, HSI_TYPE_OF_GET, &type) != HYX_OK) type = nullptr;
  Decoded value = Decode(type, data.data(), data.size(), 0);
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginObject();
    json.Field("path", hsiwalk::PathOf(node).c_str());
    json.Key("instances");
    json.BeginArray();
    for (const hsiwalk::Arg &arg : args) ArgJson(json, arg);
    json.EndArray();
    json.Key("type");
    if (type && type->name)
      json.String(type->name);
    else
      json.Null();
    json.Field("length", static_cast<uint64_t>(data.size()));
    json.Key("value");
    WriteJson(json, value);
    json.Field("hex", HexText(data.data(), data.size()).c_str());
    json.EndObject();
  } else {
    printf("%s", hsiwalk::PathOf(node).c_str());
    for (const hsiwalk::Arg &arg : args) printf(" %s", ArgText(arg).c_str());
    printf(" (%s, %zu bytes): ", type && type->name ? type->name : "no type", data.size());
    PrintText(value, 2);
  }
  hsiwalk::ReleaseType(type);
  return 0;
}

void TypeJson(JsonWriter &json, const HsiTypeDef *type, int depth) {
  if (type == nullptr || depth > kMaxTypeDepth) {
    json.Null();
    return;
  }
  json.BeginObject();
  json.Field("name", type->name ? type->name : "");
  json.Field("kind", KindName(type->kind));
  json.Field("size", type->size);
  if (type->format) json.Field(type->kind == HSI_TYPE_SCALAR ? "format" : "description", type->format);
  if (type->kind == HSI_TYPE_ARRAY) {
    json.Key("element");
    TypeJson(json, type->a.element, depth + 1);
  } else if (type->kind == HSI_TYPE_STRUCT) {
    json.Key("fields");
    json.BeginArray();
    for (uint64_t i = 0; i < type->a.count && type->b.fields; i++) {
      const HsiFieldDef &field = type->b.fields[i];
      json.BeginObject();
      json.Field("name", field.name ? field.name : "");
      json.Field("offset", field.offset);
      if (field.description) json.Field("description", field.description);
      json.Key("type");
      TypeJson(json, field.type, depth + 1);
      json.EndObject();
    }
    json.EndArray();
  } else if (type->kind == HSI_TYPE_ENUM) {
    json.Field("bitFlags", type->bitFlags != 0);
    json.Key("values");
    json.BeginArray();
    for (uint64_t i = 0; i < type->a.count && type->b.values; i++) {
      const HsiEnumValueDef &value = type->b.values[i];
      json.BeginObject();
      json.Field("name", value.name ? value.name : "");
      json.Field("value", value.value);
      if (value.description) json.Field("description", value.description);
      json.EndObject();
    }
    json.EndArray();
  }
  json.EndObject();
}

void TypeText(const HsiTypeDef *type, int indent, int depth) {
  if (type == nullptr || depth > kMaxTypeDepth) {
    printf("-\n");
    return;
  }
  printf("%s %s, %u bytes", KindName(type->kind), type->name ? type->name : "", type->size);
  if (type->format) printf(type->kind == HSI_TYPE_SCALAR ? ", format \"%s\"" : " \"%s\"", type->format);
  if (type->kind == HSI_TYPE_ENUM && type->bitFlags) printf(", bit flags");
  printf("\n");
  if (type->kind == HSI_TYPE_ARRAY) {
    printf("%*sof ", indent, "");
    TypeText(type->a.element, indent + 2, depth + 1);
  } else if (type->kind == HSI_TYPE_STRUCT) {
    for (uint64_t i = 0; i < type->a.count && type->b.fields; i++) {
      const HsiFieldDef &field = type->b.fields[i];
      printf("%*s+%u %s: ", indent, "", field.offset, field.name ? field.name : "");
      TypeText(field.type, indent + 2, depth + 1);
    }
  } else if (type->kind == HSI_TYPE_ENUM) {
    for (uint64_t i = 0; i < type->a.count && type->b.values; i++) {
      const HsiEnumValueDef &value = type->b.values[i];
      printf("%*s%s = %" PRIu64, indent, "", value.name ? value.name : "", value.value);
      if (value.description) printf(" (%s)", value.description);
      printf("\n");
    }
  }
}

int Types(int argc, char **argv) {
  if (argc < 1) return UsageError("which node: PATH");
  if (argc > 1) return UsageError(std::string("one PATH; not expected: ") + Shown(argv[1]));
  hsiwalk::Node node;
  HYX_ReturnStatus status = hsiwalk::Resolve(argv[0], node);
  if (status != HYX_OK) return FailAt(argv[0], status);
  const HsiTypeDef *types[3] = {};
  const char *names[3] = {"get", "setInput", "setOutput"};
  status = hsiwalk::GetType(node, HSI_TYPE_OF_GET, &types[0]);
  if (status == HYX_OK) status = hsiwalk::GetInputType(node, &types[1]);
  if (status == HYX_OK) status = hsiwalk::GetType(node, HSI_TYPE_OF_SET_OUTPUT, &types[2]);
  if (status != HYX_OK) {
    for (const HsiTypeDef *type : types) hsiwalk::ReleaseType(type);
    return FailAt(hsiwalk::PathOf(node), status);
  }
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginObject();
    json.Field("path", hsiwalk::PathOf(node).c_str());
    for (int i = 0; i < 3; i++) {
      json.Key(names[i]);
      TypeJson(json, types[i], 0);
    }
    json.EndObject();
  } else {
    printf("%s\n", hsiwalk::PathOf(node).c_str());
    for (int i = 0; i < 3; i++) {
      printf("%s: ", names[i]);
      TypeText(types[i], 2, 0);
    }
  }
  for (const HsiTypeDef *type : types) hsiwalk::ReleaseType(type);
  return 0;
}

constexpr Form kLsForms[] = {
    {nullptr, "[PATH [ARGS]]",
     "a node of the system-information tree: its children, the modules below the module root, an instance "
     "node's instances (ARGS: the instances above it)",
     "{\"path\": text, \"node\": NODE, \"children\": [NODE, ...], \"modules\": [{\"name\", \"id\", "
     "\"nodes\"}] (module root), \"instances\": [value, ...] (instance node)}; NODE: {\"name\", \"path\", "
     "\"id\", \"module\", \"leaf\", \"instance\", \"integerKey\", \"variableLength\", \"moduleRoot\", "
     "\"recursive\", \"getSize\", \"getType\": text or null}"},
};
constexpr Form kGetForms[] = {
    {nullptr, "PATH [ARGS]",
     "a leaf's value, decoded through its type (ARGS: instance values, outermost first)",
     "{\"path\": text, \"instances\": [value, ...], \"type\": text or null, \"length\": number, \"value\": "
     "struct {field: value} | array [value, ...] or text | enum name, or [names] for bit flags | number, "
     "\"hex\": hex text}"},
};
constexpr Form kTypesForms[] = {
    {nullptr, "PATH", "the node's data types: get, set input, set output",
     "{\"path\": text, \"get\", \"setInput\", \"setOutput\": TYPE or null}; TYPE: {\"name\", \"kind\", "
     "\"size\", \"format\" or \"description\", \"element\": TYPE, \"fields\": [{\"name\", \"offset\", "
     "\"description\", \"type\": TYPE}], \"values\": [{\"name\", \"value\", \"description\"}], "
     "\"bitFlags\"}"},
};

}  // namespace

extern const Command kLsCommand = MakeCommand("ls", kLsForms, Ls);
extern const Command kGetCommand = MakeCommand("get", kGetForms, Get);
extern const Command kTypesCommand = MakeCommand("types", kTypesForms, Types);

}  // namespace hyxhsi
