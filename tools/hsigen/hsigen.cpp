// hsigen: reads the system-information interface definitions and writes the
// node and type tables that the library (and the simulated kernel) carry.
//
//   hsigen [--namespace NS] [--renumber SEED] [--stats FILE] [--records FILE] DEFS OUT.h OUT.cpp
//
// The definitions language (see lib/hyxsysinfo/defs/interface.hsi) is line
// based.  A preprocessing pass expands "include", "list" and "foreach"; the
// parser then reads type declarations and the node tree.  Node ids follow
// the order of the text; --renumber permutes them (ids 0 and 1 stay) so that
// a second kernel can number the same nodes differently.  A node's signature
// depends only on its definition, never on its id.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using std::string;
using std::vector;

struct Line {
  string file;
  int number;
  vector<string> tokens;
};

[[noreturn]] void Fail(const Line &at, const string &message) {
  fprintf(stderr, "%s:%d: %s\n", at.file.c_str(), at.number, message.c_str());
  exit(1);
}

[[noreturn]] void Fail(const string &message) {
  fprintf(stderr, "hsigen: %s\n", message.c_str());
  exit(1);
}

// ---- Reading and preprocessing ------------------------------------------

vector<string> Tokenize(const string &text) {
  vector<string> tokens;
  for (size_t i = 0; i < text.size();) {
    if (isspace(static_cast<unsigned char>(text[i]))) {
      i++;
    } else if (text[i] == '#') {
      break;
    } else {
      size_t start = i;
      bool quoted = false;
      for (; i < text.size() && (quoted || !isspace(static_cast<unsigned char>(text[i]))); i++) {
        if (text[i] == '\\' && quoted)
          i++;
        else if (text[i] == '"')
          quoted = !quoted;
      }
      tokens.push_back(text.substr(start, i - start));
    }
  }
  return tokens;
}

void Load(const string &path, vector<Line> &out) {
  std::ifstream in(path);
  if (!in) Fail("cannot read " + path);
  string dir = path.substr(0, path.find_last_of('/') + 1);
  string text;
  for (int number = 1; std::getline(in, text); number++) {
    Line line{path, number, Tokenize(text)};
    if (line.tokens.empty()) continue;
    if (line.tokens[0] == "include" && line.tokens.size() == 2)
      Load(dir + line.tokens[1], out);
    else
      out.push_back(line);
  }
}

bool Opens(const Line &l) { return l.tokens.back() == "{"; }
bool Closes(const Line &l) { return l.tokens.size() == 1 && l.tokens[0] == "}"; }

size_t MatchingClose(const vector<Line> &lines, size_t open) {
  int depth = 0;
  for (size_t i = open; i < lines.size(); i++) {
    if (Opens(lines[i])) depth++;
    if (Closes(lines[i]) && --depth == 0) return i;
  }
  Fail(lines[open], "block is not closed");
}

using Vars = std::map<string, string>;
std::map<string, vector<string>> gLists;

string Substitute(const Line &at, const string &token, const Vars &vars) {
  string out;
  for (size_t i = 0; i < token.size(); i++) {
    if (token[i] != '$') {
      out += token[i];
      continue;
    }
    bool braced = i + 1 < token.size() && token[i + 1] == '{';
    size_t start = i + 1 + braced, end = start;
    while (end < token.size() && (isalnum(static_cast<unsigned char>(token[end])) || token[end] == '_'))
      end++;
    string name = token.substr(start, end - start);
    bool capital = braced && end < token.size() && token[end] == '^';
    if (braced && (end += capital, end >= token.size() || token[end] != '}'))
      Fail(at, "bad ${...} in " + token);
    auto var = vars.find(name);
    if (var == vars.end()) Fail(at, "unknown variable $" + name);
    string value = var->second;
    if (capital && !value.empty())
      value[0] = static_cast<char>(toupper(static_cast<unsigned char>(value[0])));
    out += value;
    i = braced ? end : end - 1;
  }
  return out;
}

vector<string> Split(const string &s, char by) {
  vector<string> parts;
  std::stringstream in(s);
  for (string part; std::getline(in, part, by);) parts.push_back(part);
  return parts;
}

// foreach A[:B...] in ITEM... {  repeats its body once per item, binding
// the item's ':'-separated parts; "@NAME" stands for a list's items.
void Expand(const vector<Line> &in, size_t begin, size_t end, const Vars &vars, vector<Line> &out) {
  for (size_t i = begin; i < end; i++) {
    Line line = in[i];
    for (string &t : line.tokens) t = Substitute(line, t, vars);
    const vector<string> &t = line.tokens;
    if (t[0] == "list") {
      if (t.size() < 3) Fail(line, "list NAME [+=] ITEM...");
      bool append = t[2] == "+=";
      vector<string> &list = gLists[t[1]];
      if (!append) list.clear();
      list.insert(list.end(), t.begin() + 2 + append, t.end());
    } else if (t[0] == "foreach") {
      if (t.size() < 5 || t[2] != "in" || !Opens(line)) Fail(line, "foreach VARS in ITEM... {");
      size_t close = MatchingClose(in, i);
      vector<string> names = Split(t[1], ':'), items;
      for (size_t k = 3; k + 1 < t.size(); k++) {
        if (t[k][0] != '@')
          items.push_back(t[k]);
        else if (gLists.count(t[k].substr(1)))
          items.insert(items.end(), gLists[t[k].substr(1)].begin(), gLists[t[k].substr(1)].end());
        else
          Fail(line, "unknown list " + t[k]);
      }
      for (const string &item : items) {
        vector<string> parts = Split(item, ':');
        if (parts.size() != names.size()) Fail(line, "item " + item + " does not match " + t[1]);
        Vars inner = vars;
        for (size_t k = 0; k < names.size(); k++) inner[names[k]] = parts[k];
        Expand(in, i + 1, close, inner, out);
      }
      i = close;
    } else {  // "@NAME" anywhere else stands for the list's items too
      vector<string> tokens;
      for (const string &token : t) {
        if (token.size() < 2 || token[0] != '@' || !isalpha(static_cast<unsigned char>(token[1]))) {
          tokens.push_back(token);
          continue;
        }
        auto list = gLists.find(token.substr(1));
        if (list == gLists.end()) Fail(line, "unknown list " + token);
        tokens.insert(tokens.end(), list->second.begin(), list->second.end());
      }
      line.tokens = tokens;
      out.push_back(line);
    }
  }
}

// ---- The model ----------------------------------------------------------

enum Kind : uint32_t { kScalar = 0, kArray = 1, kStruct = 2, kEnum = 3 };

struct Field {
  string name;
  int type;
  uint32_t offset;
  string description;
};

struct EnumValue {
  string name;
  uint64_t value;
  string description;
};

struct Type {
  string name;
  Kind kind;
  uint32_t size = 0;
  string text{};  // scalar format, struct or enum description
  vector<Field> fields{};
  vector<EnumValue> values{};
  bool bitFlags = false;
  int element = -1;
  string canonical{};
};

struct Node {
  string name{}, path{};
  int parent = -1;
  vector<int> children{};
  bool leaf = false, instance = false, integerKey = false, variableLength = false, moduleRoot = false;
  bool hasSet = false;
  uint8_t recursive = 0;
  int get = -1, input = -1, output = -1;
  long pinned = -1;
  int depth = 0;
  uint32_t id = 0, statsIndex = UINT32_MAX;
  uint64_t signature = 0;
  Line at{};
};

vector<Type> gTypes;
std::map<string, int> gTypeIndex;
std::map<int, std::pair<Line, uint64_t>> gWantSize;  // struct sizes a block promised
vector<Node> gNodes;
string gSignature;

uint64_t Number(const Line &at, const string &s) {
  char *end;
  uint64_t v = strtoull(s.c_str(), &end, 0);
  if (s.empty() || *end) Fail(at, "not a number: " + s);
  return v;
}

string Unquote(const Line &at, const string &s) {
  if (s.size() < 2 || s.front() != '"' || s.back() != '"') Fail(at, "expected a quoted text: " + s);
  string out;
  for (size_t i = 1; i + 1 < s.size(); i++) out += s[i] == '\\' ? s[++i] : s[i];
  return out;
}

bool Quoted(const string &s) { return !s.empty() && s[0] == '"'; }

int AddType(const Line &at, Type t) {
  if (gTypeIndex.count(t.name)) Fail(at, "type " + t.name + " declared twice");
  gTypeIndex[t.name] = static_cast<int>(gTypes.size());
  gTypes.push_back(std::move(t));
  return static_cast<int>(gTypes.size()) - 1;
}

// "NAME" or "NAME[N]"; the second declares an array type named after the
// struct and field that use it.
int TypeRef(const Line &at, const string &ref, const string &arrayName) {
  size_t bracket = ref.find('[');
  string base = ref.substr(0, bracket);
  auto found = gTypeIndex.find(base);
  if (found == gTypeIndex.end()) Fail(at, "unknown type " + base);
  if (bracket == string::npos) return found->second;
  if (ref.back() != ']') Fail(at, "bad array type " + ref);
  uint64_t count = Number(at, ref.substr(bracket + 1, ref.size() - bracket - 2));
  Type array{arrayName, kArray};
  array.element = found->second;
  array.size = static_cast<uint32_t>(count * gTypes[found->second].size);
  return AddType(at, array);
}

void AddField(const Line &at, int structIndex, const string &name, const string &typeRef,
              const string &description) {
  int type = TypeRef(at, typeRef, gTypes[structIndex].name + "_" + name);
  Type &s = gTypes[structIndex];
  for (const Field &f : s.fields)
    if (f.name == name) Fail(at, "field " + name + " twice in " + s.name);
  s.fields.push_back({name, type, s.size, description.empty() ? name : description});
  s.size += gTypes[type].size;
}

void AddValue(const Line &at, Type &e, const string &item, const string &description) {
  size_t eq = item.find('=');
  string name = item.substr(0, eq);
  uint64_t value = eq != string::npos ? Number(at, item.substr(eq + 1))
                   : e.values.empty() ? (e.bitFlags ? 1 : 0)
                   : e.bitFlags       ? e.values.back().value << 1
                                      : e.values.back().value + 1;
  e.values.push_back({name, value, description.empty() ? name : description});
}

bool IsName(const string &s) {
  return !s.empty() && isalpha(static_cast<unsigned char>(s[0])) &&
         std::all_of(s.begin(), s.end(), [](char c) { return isalnum(static_cast<unsigned char>(c)); });
}

int AddNode(const Line &at, int parent, bool leaf) {
  const vector<string> &t = at.tokens;
  if (t.size() < 2 || !IsName(t[1])) Fail(at, "a node needs a name of letters and digits");
  Node n;
  n.name = t[1];
  n.parent = parent;
  n.leaf = leaf;
  n.at = at;
  string arrayName = n.name;  // an array type a node declares is named after its path
  for (int p = parent; p > 0; p = gNodes[p].parent) arrayName = gNodes[p].name + "_" + arrayName;
  arrayName = "HSI_" + arrayName + "_value";
  for (size_t k = 2; k < t.size(); k++) {
    const string &a = t[k];
    if (a == "{") continue;
    if (a[0] == '=')
      n.pinned = static_cast<long>(Number(at, a.substr(1)));
    else if (a == "inst" || a == "inst:str")
      n.instance = true;
    else if (a == "inst:int")
      n.instance = n.integerKey = true;
    else if (a == "rec")
      n.recursive = 1;
    else if (a == "rec2")
      n.recursive = 2;
    else if (a == "modroot")
      n.moduleRoot = true;
    else if (a == "var" && leaf)
      n.variableLength = true;
    else if (a == "set" && leaf)
      n.hasSet = true;
    else if (a.rfind("get:", 0) == 0 && leaf)
      n.get = TypeRef(at, a.substr(4), arrayName);
    else if (a.rfind("in:", 0) == 0 && leaf)
      n.input = TypeRef(at, a.substr(3), arrayName + "In");
    else if (a.rfind("out:", 0) == 0 && leaf)
      n.output = TypeRef(at, a.substr(4), arrayName + "Out");
    else
      Fail(at, "unknown node attribute " + a);
  }
  if (leaf && n.get < 0 && !n.variableLength && !n.hasSet && n.input < 0)
    Fail(at, "a leaf needs get:, var or set");
  if (n.recursive && !n.instance) Fail(at, "only instance nodes nest");
  gNodes.push_back(n);
  int index = static_cast<int>(gNodes.size()) - 1;
  for (int sibling : gNodes[parent].children)
    if (gNodes[sibling].name == n.name) Fail(at, "node " + n.name + " twice under one parent");
  gNodes[parent].children.push_back(index);
  return index;
}

int FindPath(const Line &at, const string &path) {
  int node = 0;
  for (const string &part : Split(path, '/')) {
    int next = -1;
    for (int c : gNodes[node].children)
      if (gNodes[c].name == part) next = c;
    if (next < 0) Fail(at, "no node " + path);
    node = next;
  }
  return node;
}

void Parse(const vector<Line> &lines) {
  gNodes.push_back(Node{"root"});
  vector<int> parents{0};  // -1 marks a type block
  int typeBlock = -1;
  for (const Line &l : lines) {
    const vector<string> &t = l.tokens;
    const string &w = t[0];
    if (Closes(l)) {
      if (parents.size() == 1) Fail(l, "unbalanced }");
      parents.pop_back();
      typeBlock = -1;
    } else if (typeBlock >= 0 && gTypes[typeBlock].kind == kStruct) {  // NAME TYPE [@OFFSET] ["text"]
      if (t.size() < 2) Fail(l, "field: NAME TYPE [@OFFSET] [\"description\"]");
      uint32_t at = gTypes[typeBlock].size;
      AddField(l, typeBlock, w, t[1], Quoted(t.back()) ? Unquote(l, t.back()) : "");
      if (t.size() > 2 && t[2][0] == '@' && Number(l, t[2].substr(1)) != at)
        Fail(l, "field " + w + " lands at offset " + std::to_string(at) + ", not " + t[2].substr(1));
    } else if (typeBlock >= 0) {  // NAME [VALUE] ["text"]
      bool valued = t.size() > 1 && !Quoted(t[1]);
      AddValue(l, gTypes[typeBlock], valued ? w + "=" + t[1] : w,
               Quoted(t.back()) ? Unquote(l, t.back()) : "");
    } else if (w == "signature" && t.size() == 2) {
      gSignature = t[1];
    } else if (w == "scalar" && t.size() == 4) {
      Type s{t[1], kScalar};
      s.size = static_cast<uint32_t>(Number(l, t[2]));
      s.text = Unquote(l, t[3]);
      AddType(l, s);
    } else if (w == "array" && t.size() == 4) {
      int element = TypeRef(l, t[2], "");
      Type a{t[1], kArray};
      a.element = element;
      a.size = static_cast<uint32_t>(Number(l, t[3]) * gTypes[element].size);
      AddType(l, a);
    } else if ((w == "enum" || w == "flags") && t.size() >= 5) {  // enum NAME SIZE "text" { | = V...
      Type e{t[1], kEnum};
      e.size = static_cast<uint32_t>(Number(l, t[2]));
      e.text = Unquote(l, t[3]);
      e.bitFlags = w == "flags";
      if (t[4] == "=")
        for (size_t k = 5; k < t.size(); k++) AddValue(l, e, t[k], "");
      int index = AddType(l, e);
      if (t[4] == "{") typeBlock = index, parents.push_back(-1);
    } else if (w == "struct" && t.size() >= 3) {  // struct NAME ["text"] [size=N] [of TYPE] { | = F[:TYPE]...
      Type s{t[1], kStruct};
      size_t k = 2;
      if (Quoted(t[k])) s.text = Unquote(l, t[k++]);
      long wantSize = -1;
      if (k < t.size() && t[k].rfind("size=", 0) == 0)
        wantSize = static_cast<long>(Number(l, t[k++].substr(5)));
      string common;
      if (k + 1 < t.size() && t[k] == "of") common = t[k + 1], k += 2;
      if (s.text.empty()) s.text = s.name;
      int index = AddType(l, s);
      if (k < t.size() && t[k] == "{") {
        typeBlock = index;
        parents.push_back(-1);
        if (wantSize >= 0) gWantSize[index] = {l, static_cast<uint64_t>(wantSize)};
        wantSize = -1;
      } else if (k < t.size() && t[k] == "=") {
        for (k++; k < t.size(); k++) {
          vector<string> parts = Split(t[k], ':');
          if (parts.size() > 2 || (parts.size() == 1 && common.empty()))
            Fail(l, "field needs a type: " + t[k]);
          AddField(l, index, parts[0], parts.size() == 2 ? parts[1] : common, "");
        }
      } else if (k != t.size()) {
        Fail(l, "struct NAME [\"text\"] [size=N] [of TYPE] { or = FIELD...");
      }
      if (wantSize >= 0 && gTypes[index].size != static_cast<uint64_t>(wantSize))
        Fail(l,
             t[1] + " is " + std::to_string(gTypes[index].size) + " bytes, not " + std::to_string(wantSize));
    } else if (w == "branch" || w == "leaf") {
      if (parents.back() < 0) Fail(l, "node inside a type");
      int node = AddNode(l, parents.back(), w == "leaf");
      if (Opens(l)) {
        if (w == "leaf") Fail(l, "a leaf has no children");
        parents.push_back(node);
      }
    } else if (w == "extend" && t.size() == 3 && Opens(l)) {
      parents.push_back(FindPath(l, t[1]));
    } else {
      Fail(l, "unknown statement " + w);
    }
  }
  if (parents.size() != 1) Fail("a block is not closed at the end of the definitions");
  for (const auto &[index, want] : gWantSize)
    if (gTypes[index].size != want.second)
      Fail(want.first, gTypes[index].name + " is " + std::to_string(gTypes[index].size) + " bytes, not " +
                           std::to_string(want.second));
}

// ---- Signatures ---------------------------------------------------------

uint64_t Hash64(const string &s, uint64_t seed) {
  uint64_t h = 0xcbf29ce484222325ull ^ seed;
  for (unsigned char c : s) h = (h ^ c) * 0x100000001b3ull;
  h ^= h >> 33;  // finalize so that near texts spread over all bits
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  return h ^ (h >> 33);
}

const string &Canonical(int index) {
  Type &t = gTypes[index];
  if (!t.canonical.empty()) return t.canonical;
  std::ostringstream c;
  c << "k" << t.kind << ":" << t.name << ":" << t.size;
  if (t.kind == kScalar) c << ":" << t.text;
  if (t.kind == kArray) c << "[" << Canonical(t.element) << "]";
  for (const Field &f : t.fields) c << "{" << f.name << "@" << f.offset << ":" << Canonical(f.type) << "}";
  for (const EnumValue &v : t.values) c << "(" << v.name << "=" << v.value << (t.bitFlags ? "|" : "") << ")";
  return t.canonical = c.str();
}

string NodeCanonical(const Node &n) {
  auto type = [](int t) { return t < 0 ? string("-") : Canonical(t); };
  std::ostringstream c;
  c << n.path << "|" << n.leaf << n.input + 1 << n.variableLength << n.instance << n.moduleRoot
    << int(n.recursive) << n.integerKey << "|get " << type(n.get) << "|in " << type(n.input) << "|out "
    << type(n.output);
  return c.str();
}

// ---- Derived fields -----------------------------------------------------

constexpr int kEmptyOutput = 14;

uint32_t Size(int type) { return type < 0 ? 0 : gTypes[type].size; }

void Resolve(uint64_t renumberSeed, bool renumber) {
  if (gTypes.size() <= kEmptyOutput || gTypes[kEmptyOutput].name != "HSI_Empty_Output")
    Fail("type 14 must be HSI_Empty_Output");
  vector<uint32_t> ids(gNodes.size());
  for (size_t i = 0; i < ids.size(); i++) ids[i] = static_cast<uint32_t>(i);
  if (renumber) {  // a fixed shuffle of 2 .. n-1: the root and the hash node keep their ids
    uint64_t x = renumberSeed;
    for (size_t i = ids.size() - 1; i > 2; i--) {
      x += 0x9e3779b97f4a7c15ull;
      size_t j = 2 + Hash64(std::to_string(x), 0) % (i - 1);
      std::swap(ids[i], ids[j]);
    }
  }
  std::set<string> paths;
  std::map<uint64_t, string> signatures;
  uint32_t stats = 0;
  int statsRegistry = -1;
  for (size_t i = 0; i < gNodes.size(); i++) {
    Node &n = gNodes[i];
    n.id = ids[i];
    if (i == 0) continue;
    const Node &p = gNodes[n.parent];
    n.depth = p.depth + 1;
    n.path = n.parent == 0 ? n.name : p.path + "_" + n.name;
    if (!paths.insert(n.path).second) Fail(n.at, "path " + n.path + " twice");
    if (n.parent == 0 && n.name == "statsRegistry") statsRegistry = static_cast<int>(i);
    for (int a = n.parent; a > 0; a = gNodes[a].parent)
      if (a == statsRegistry && n.leaf) n.statsIndex = stats++;
    if (n.leaf && n.output < 0) n.output = kEmptyOutput;
    if (!renumber && n.pinned >= 0 && n.pinned != static_cast<long>(i))
      Fail(n.at, n.path + " gets id " + std::to_string(i) + ", not " + std::to_string(n.pinned));
    n.signature = Hash64(NodeCanonical(n), 0);
    if (!signatures.emplace(n.signature, n.path).second) Fail(n.at, "signature of " + n.path + " collides");
  }
  gNodes[0].signature = Hash64(NodeCanonical(gNodes[0]), 0);
  for (Node &n : gNodes)
    std::sort(n.children.begin(), n.children.end(), [](int a, int b) { return gNodes[a].id > gNodes[b].id; });
  if (gNodes.size() >= 3000) Fail("the node table must stay below 3000 nodes");
}

// ---- Output -------------------------------------------------------------

string Quote(const string &s) {
  string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

string Link(int node) { return node < 0 ? "0xFFFFFFFFu" : std::to_string(gNodes[node].id) + "u"; }
string TypeIndex(int t) { return t < 0 ? "0xFFFFFFFFu" : std::to_string(t) + "u"; }
string TypeAddress(int t) { return t < 0 ? "nullptr" : "&hsiTables.types[" + std::to_string(t) + "]"; }

struct Counts {
  size_t fields = 0, values = 0, relocations = 1;  // the signature's address
};

Counts Count() {
  Counts c;
  for (const Type &t : gTypes) {
    c.fields += t.fields.size();
    c.values += t.values.size();
    c.relocations += 1 + (t.kind != kArray) + (t.kind == kArray) + (t.kind == kStruct || t.kind == kEnum);
    c.relocations += 3 * t.fields.size() + 2 * t.values.size();
  }
  for (const Node &n : gNodes) c.relocations += 1 + (n.get >= 0) + (n.input >= 0) + (n.output >= 0);
  return c;
}

void WriteHeader(const string &path, const string &ns) {
  Counts c = Count();
  std::ofstream out(path);
  out << "// Generated by hsigen from the interface definitions; do not edit.\n#pragma once\n\n"
      << "#include <cstdint>\n\n#include \"hyxsysinfo/hsiDefs.h\"\n\n";
  if (!ns.empty()) out << "namespace " << ns << " {\n\n";
  out << "constexpr uint32_t HSI_NODE_COUNT = " << gNodes.size() << ";\n"
      << "constexpr uint32_t HSI_TYPE_COUNT = " << gTypes.size() << ";\n"
      << "constexpr uint32_t HSI_FIELD_COUNT = " << c.fields << ";\n"
      << "constexpr uint32_t HSI_ENUM_VALUE_COUNT = " << c.values << ";\n"
      << "\n"
      << "// The tables, one after the other: descriptor arrays, nodes, types.\n"
      << "struct HsiTables {\n  HsiFieldDef fields[HSI_FIELD_COUNT];\n"
      << "  HsiEnumValueDef enumValues[HSI_ENUM_VALUE_COUNT];\n  HsiNodeDef nodes[HSI_NODE_COUNT];\n"
      << "  HsiTypeDef types[HSI_TYPE_COUNT];\n  uint32_t nodeCount;\n  uint32_t typeCount;\n"
      << "  const char *signature;\n};\n\nextern const HsiTables hsiTables;\nextern const char "
         "HSI_SIGNATURE[33];\n\n";
  vector<const Node *> sorted;
  for (size_t i = 1; i < gNodes.size(); i++) sorted.push_back(&gNodes[i]);
  std::sort(sorted.begin(), sorted.end(), [](const Node *a, const Node *b) { return a->path < b->path; });
  out << "// One identifier per node but the root, in ascending byte order of the path.\n"
      << "struct HsiNodeIdTable {\n";
  for (const Node *n : sorted) out << "  uint16_t " << n->path << ";\n";
  out << "};\nextern const HsiNodeIdTable hsiNodeIdTable;\n\n";
  for (const Node *n : sorted) out << "constexpr uint16_t HSI_NODE_" << n->path << " = " << n->id << ";\n";
  if (!ns.empty()) out << "\n}  // namespace " << ns << "\n";
}

void WriteSource(const string &path, const string &header, const string &ns, const string &signature) {
  std::ofstream out(path);
  out << "// Generated by hsigen from the interface definitions; do not edit.\n#include \"" << header
      << "\"\n\n";
  if (!ns.empty()) out << "namespace " << ns << " {\n\n";
  out << "const char HSI_SIGNATURE[33] = " << Quote(signature) << ";\n\n";
  out << "constinit const HsiTables hsiTables = {\n  {\n";
  vector<size_t> firstField(gTypes.size()), firstValue(gTypes.size());
  size_t fields = 0, values = 0;
  for (size_t i = 0; i < gTypes.size(); i++) {
    firstField[i] = fields;
    for (const Field &f : gTypes[i].fields)
      out << "    {" << Quote(f.name) << ", " << TypeAddress(f.type) << ", " << f.type << ", " << f.offset
          << ", " << Quote(f.description) << "},\n";
    fields += gTypes[i].fields.size();
  }
  out << "  },\n  {\n";
  for (size_t i = 0; i < gTypes.size(); i++) {
    firstValue[i] = values;
    for (const EnumValue &v : gTypes[i].values)
      out << "    {" << Quote(v.name) << ", " << v.value << "ull, " << Quote(v.description) << "},\n";
    values += gTypes[i].values.size();
  }
  out << "  },\n  {\n";
  vector<const Node *> byId(gNodes.size());
  for (const Node &n : gNodes) byId[n.id] = &n;
  for (const Node *n : byId) {
    size_t index = n - gNodes.data();
    const vector<int> &siblings = n->parent < 0 ? vector<int>{} : gNodes[n->parent].children;
    auto self = std::find(siblings.begin(), siblings.end(), static_cast<int>(index));
    int next = self != siblings.end() && self + 1 != siblings.end() ? *(self + 1) : -1;
    out << "    {" << n->id << "u, " << n->leaf << ", " << (n->input >= 0) << ", " << n->variableLength
        << ", " << n->instance << ", " << n->moduleRoot << ", " << int(n->recursive) << ", " << n->integerKey
        << ", " << Link(n->parent) << ", " << Link(next) << ", "
        << Link(n->children.empty() ? -1 : n->children[0]) << ", " << (n->variableLength ? 0 : Size(n->get))
        << "u, " << TypeIndex(n->get) << ", " << Size(n->input) << "u, " << TypeIndex(n->input) << ", "
        << Size(n->output) << "u, " << TypeIndex(n->output) << ", "
        << (n->statsIndex == UINT32_MAX ? "0xFFFFFFFFu" : std::to_string(n->statsIndex) + "u") << ", 0x"
        << std::hex << n->signature << std::dec << "ull, " << Quote(n->name) << ", " << TypeAddress(n->get)
        << ", " << TypeAddress(n->input) << ", " << TypeAddress(n->output) << "},\n";
  }
  out << "  },\n  {\n";
  for (size_t i = 0; i < gTypes.size(); i++) {
    const Type &t = gTypes[i];
    out << "    {" << Quote(t.name) << ", " << t.kind << ", " << t.size << "u, "
        << (t.kind == kArray ? "nullptr" : Quote(t.text)) << ", ";
    if (t.kind == kArray)
      out << "{.element = " << TypeAddress(t.element) << "}, {.elementIndex = " << t.element << "}, 0},\n";
    else if (t.kind == kStruct)
      out << "{.count = " << t.fields.size() << "}, {.fields = hsiTables.fields + " << firstField[i]
          << "}, 0},\n";
    else if (t.kind == kEnum)
      out << "{.count = " << t.values.size() << "}, {.values = hsiTables.enumValues + " << firstValue[i]
          << "}, " << t.bitFlags << "},\n";
    else
      out << "{.count = 0}, {.elementIndex = 0}, 0},\n";
  }
  out << "  },\n  HSI_NODE_COUNT,\n  HSI_TYPE_COUNT,\n  HSI_SIGNATURE,\n};\n\n";
  vector<const Node *> sorted;
  for (size_t i = 1; i < gNodes.size(); i++) sorted.push_back(&gNodes[i]);
  std::sort(sorted.begin(), sorted.end(), [](const Node *a, const Node *b) { return a->path < b->path; });
  out << "constinit const HsiNodeIdTable hsiNodeIdTable = {\n";
  for (const Node *n : sorted) out << "  HSI_NODE_" << n->path << ",\n";
  out << "};\n";
  if (!ns.empty()) out << "\n}  // namespace " << ns << "\n";
}

void WriteStats(const string &path) {
  std::map<string, size_t> s;
  for (size_t i = 1; i < gNodes.size(); i++) {
    const Node &n = gNodes[i];
    s["nodes"]++;
    s[n.leaf ? "leaves" : "branches"]++;
    s["instance"] += n.instance;
    s["integerKey"] += n.integerKey;
    s["variableLength"] += n.variableLength;
    s["typedSetInput"] += n.input >= 0;
    s["leavesWithGet"] += n.get >= 0;
    s["recursive"] += n.recursive & 1;
    s["recursiveOther"] += n.recursive && !(n.recursive & 1);
    s["moduleRoot"] += n.moduleRoot;
    s["topLevel"] += n.parent == 0;
    s["maxDepth"] = std::max<size_t>(s["maxDepth"], n.depth);
  }
  s["nodes"]++;  // the root
  s["branches"]++;
  const char *kinds[] = {"scalar", "array", "struct", "enum"};
  for (const Type &t : gTypes) {
    s["types"]++;
    s[kinds[t.kind]]++;
    s["bitFlags"] += t.bitFlags;
  }
  Counts c = Count();
  s["fields"] = c.fields;
  s["enumValues"] = c.values;
  s["relocations"] = c.relocations;
  std::ofstream out(path);
  for (const auto &[key, value] : s) out << key << " " << value << "\n";
}

// The kernel's records as constants, for code that reads a value in place:
// each struct's size, each field's offset and size, and the size of each
// fixed-size leaf's value.  Only the definitions spell these numbers.
void WriteRecords(const string &path, const string &ns) {
  std::ofstream out(path);
  out << "// Generated by hsigen from the interface definitions; do not edit.\n#pragma once\n\n"
      << "#include <cstdint>\n\n";
  if (!ns.empty()) out << "namespace " << ns << " {\n\n";
  std::set<string> names;
  auto constant = [&](const string &name, uint32_t value) {
    if (!names.insert(name).second) Fail("two record constants are named " + name);
    out << "constexpr uint32_t " << name << " = " << value << ";\n";
  };
  out << "// HSI_SIZEOF_<struct>, HSI_OFFSETOF_<struct>_<field>, HSI_SIZEOF_<struct>_<field>.\n";
  for (const Type &t : gTypes) {
    if (t.kind != kStruct) continue;
    constant("HSI_SIZEOF_" + t.name, t.size);
    for (const Field &f : t.fields) {
      constant("HSI_OFFSETOF_" + t.name + "_" + f.name, f.offset);
      constant("HSI_SIZEOF_" + t.name + "_" + f.name, Size(f.type));
    }
  }
  out << "\n// HSI_VALUE_SIZE_<node path>: the value a fixed-size leaf's get returns.\n";
  for (size_t i = 1; i < gNodes.size(); i++) {
    const Node &n = gNodes[i];
    if (n.leaf && n.get >= 0 && !n.variableLength) constant("HSI_VALUE_SIZE_" + n.path, Size(n.get));
  }
  if (!ns.empty()) out << "\n}  // namespace " << ns << "\n";
}

// The whole interface, ids included: what a renumbered kernel announces.
string InterfaceDigest() {
  string all;
  for (const Node &n : gNodes) all += std::to_string(n.id) + "=" + NodeCanonical(n) + "\n";
  char text[33];
  snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(Hash64(all, 1)),
           static_cast<unsigned long long>(Hash64(all, 2)));
  return text;
}

}  // namespace

int main(int argc, char **argv) {
  string ns, statsPath, recordsPath;
  uint64_t seed = 0;
  bool renumber = false;
  vector<string> files;
  for (int i = 1; i < argc; i++) {
    string a = argv[i];
    if (a == "--namespace" && i + 1 < argc)
      ns = argv[++i];
    else if (a == "--stats" && i + 1 < argc)
      statsPath = argv[++i];
    else if (a == "--records" && i + 1 < argc)
      recordsPath = argv[++i];
    else if (a == "--renumber" && i + 1 < argc)
      renumber = true, seed = strtoull(argv[++i], nullptr, 0);
    else
      files.push_back(a);
  }
  if (files.size() != 3)
    Fail(
        "usage: hsigen [--namespace NS] [--renumber SEED] [--stats FILE] [--records FILE] DEFS OUT.h "
        "OUT.cpp");
  vector<Line> raw, lines;
  Load(files[0], raw);
  Expand(raw, 0, raw.size(), {}, lines);
  Parse(lines);
  Resolve(seed, renumber);
  if (gSignature.size() != 32) Fail("the definitions need a 32-digit signature line");
  string signature = renumber ? InterfaceDigest() : gSignature;
  string header = files[1].substr(files[1].find_last_of('/') + 1);
  WriteHeader(files[1], ns);
  WriteSource(files[2], header, ns, signature);
  if (!statsPath.empty()) WriteStats(statsPath);
  if (!recordsPath.empty()) WriteRecords(recordsPath, ns);
  return 0;
}
