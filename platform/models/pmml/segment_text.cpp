#include "segment_text.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "pmml_names.h"
#include "value_text.h"
#include "xml_text.h"

namespace splitmodels::detail {

namespace {

// The PMML group writers' documents, and the annotated copies the run
// stores, are printed one element per line, indented two spaces a level,
// with text only in elements that hold nothing else. Such a document
// parses back to a tree that prints as the same lines, when every value is
// escaped as the printer escapes it; the checks below accept exactly that
// and leave anything else to the parsed copy.

enum class Kind { Open, Empty, Leaf, Close };

struct Line {
  std::string_view text;        // without indentation and line feed
  std::string_view name;        // the element's name
  std::string_view attributes;  // ` name="value"` pairs as written
  Kind kind = Kind::Close;
  std::size_t depth = 0;        // of the element: the PMML element is 0
};

// Byte classes of the lines: name characters, and the bytes a value holds
// as they are (no escape, nothing the parser would change).
struct ByteClasses {
  bool nameStart[256] = {};
  bool name[256] = {};
  bool attribute[256] = {};
  bool text[256] = {};
  constexpr ByteClasses() {
    for (int c = 0; c < 256; ++c) {
      nameStart[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
      name[c] = nameStart[c] || (c >= '0' && c <= '9') || c == '-' || c == '.';
      attribute[c] = c >= 32 && c != '&' && c != '<' && c != '"';
      text[c] = (c >= 32 || c == '\t') && c != '&' && c != '<' && c != '>';
    }
  }
};
constexpr ByteClasses kBytes;

bool isNameStart(char c) { return kBytes.nameStart[static_cast<unsigned char>(c)]; }

std::size_t nameLength(std::string_view s, std::size_t at) {
  if (at >= s.size() || !isNameStart(s[at])) return 0;
  std::size_t end = at + 1;
  while (end < s.size() && kBytes.name[static_cast<unsigned char>(s[end])]) ++end;
  return end - at;
}

// The value of `&#NN;` at the start of `s`, or 0 when it is not one.
unsigned characterReference(std::string_view s) {
  if (s.size() < 5 || s[1] != '#' || s[4] != ';' || s[2] < '0' || s[2] > '9' || s[3] < '0' || s[3] > '9') return 0;
  return static_cast<unsigned>((s[2] - '0') * 10 + (s[3] - '0'));
}

// Whether escaped attribute (or element) text decodes to a value that the
// printer escapes back to the same bytes.
bool printsBack(std::string_view value, bool attribute) {
  if (!attribute && value.find_first_not_of(" \t") == std::string_view::npos) return false;  // dropped on parsing
  const bool* plain = attribute ? kBytes.attribute : kBytes.text;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (plain[static_cast<unsigned char>(value[i])]) continue;
    if (value[i] != '&') return false;
    const std::string_view rest = value.substr(i);
    std::size_t length = 0;
    if (rest.starts_with("&amp;")) length = 5;
    else if (rest.starts_with("&lt;")) length = 4;
    else if (!attribute && rest.starts_with("&gt;")) length = 4;
    else if (attribute && rest.starts_with("&quot;")) length = 6;
    else if (const unsigned code = characterReference(rest);
             code >= 1 && code < 32 && (attribute || (code != '\t' && code != '\n' && code != '\r')))
      length = 5;
    if (length == 0) return false;
    i += length - 1;
  }
  return true;
}

// Reads one line without its indentation; false when it is not an element
// line as the printer writes it.
bool readLine(std::string_view s, Line& line) {
  line.text = s;
  if (s.size() < 3 || s[0] != '<') return false;
  if (s[1] == '/') {
    const std::size_t n = nameLength(s, 2);
    if (n == 0 || s.size() != n + 3 || s.back() != '>') return false;
    line.kind = Kind::Close;
    line.name = s.substr(2, n);
    return true;
  }
  const std::size_t n = nameLength(s, 1);
  if (n == 0) return false;
  line.name = s.substr(1, n);
  std::size_t at = n + 1;
  const std::size_t attributesStart = at;
  while (at + 1 < s.size() && s[at] == ' ' && isNameStart(s[at + 1])) {
    at += 1 + nameLength(s, at + 1);
    if (at + 1 >= s.size() || s[at] != '=' || s[at + 1] != '"') return false;
    // The value ends at the first quote: the printer escapes any other.
    std::size_t close = at + 2;
    while (close < s.size() && kBytes.attribute[static_cast<unsigned char>(s[close])]) ++close;
    if (close < s.size() && s[close] == '&') {
      const std::size_t quote = s.find('"', close);
      if (quote == std::string_view::npos || !printsBack(s.substr(close, quote - close), true)) return false;
      close = quote;
    }
    if (close >= s.size() || s[close] != '"') return false;
    at = close + 1;
  }
  line.attributes = s.substr(attributesStart, at - attributesStart);
  const std::string_view rest = s.substr(at);
  if (rest == " />") {
    line.kind = Kind::Empty;
    return true;
  }
  if (rest == ">") {
    line.kind = Kind::Open;
    return true;
  }
  const std::size_t end = rest.find('<');
  if (rest.empty() || rest[0] != '>' || end == std::string_view::npos) return false;
  const std::string_view closing = rest.substr(end);
  if (!printsBack(rest.substr(1, end - 1), false) || closing.size() != line.name.size() + 3 ||
      !closing.starts_with("</") || closing.substr(2, line.name.size()) != line.name || closing.back() != '>')
    return false;
  line.kind = Kind::Leaf;
  return true;
}

// A line as readLine read it, by offsets from the line's start, with where
// the whole line (indentation included, line feed not) lies in its body.
struct KnownLine {
  std::size_t at = 0, length = 0, indent = 0;
  Kind kind = Kind::Close;
  std::size_t nameAt = 0, nameLength = 0, attributesAt = 0, attributesLength = 0;
};

// The lines of the last body this thread read. A line of the same bytes
// reads the same (readLine looks at nothing else), and the documents of a
// run differ from group to group in a few lines only (names, split values,
// numbers), so a line is first compared with the last body's line at the
// same place, which costs a fraction of reading it.
struct KnownLines {
  std::string body;
  std::vector<KnownLine> lines, next;
  std::vector<std::string_view> open;  // the elements open at a line, kept for its room
};

// Reads the lines of a document's body (after the PMML start tag) up to
// and with the PMML end tag, which must end the document.
bool readBody(std::string_view body, std::vector<Line>& lines) {
  thread_local KnownLines known;
  known.next.clear();
  std::vector<std::string_view>& open = known.open;
  open.assign(1, "PMML");
  std::size_t at = 0;
  while (!open.empty()) {
    const std::size_t end = body.find('\n', at);
    if (end == std::string_view::npos) return false;
    const std::string_view s = body.substr(at, end - at);
    const std::size_t i = known.next.size();
    KnownLine read;
    Line line;
    if (i < known.lines.size() && known.lines[i].length == s.size() &&
        std::memcmp(known.body.data() + known.lines[i].at, s.data(), s.size()) == 0) {
      read = known.lines[i];
      line.text = s.substr(read.indent);
      line.name = s.substr(read.nameAt, read.nameLength);
      line.attributes = s.substr(read.attributesAt, read.attributesLength);
      line.kind = read.kind;
    } else {
      read.length = s.size();
      read.indent = s.find_first_not_of(' ');
      if (read.indent == std::string_view::npos) return false;
      if (!readLine(s.substr(read.indent), line)) return false;
      read.kind = line.kind;
      read.nameAt = static_cast<std::size_t>(line.name.data() - s.data());
      read.nameLength = line.name.size();
      // An end tag's attributes are an empty view of nothing.
      read.attributesAt = line.attributes.empty() ? 0 : static_cast<std::size_t>(line.attributes.data() - s.data());
      read.attributesLength = line.attributes.size();
    }
    read.at = at;
    at = end + 1;
    if (line.kind == Kind::Close) {
      if (line.name != open.back()) return false;
      open.pop_back();
    }
    line.depth = open.size();
    if (read.indent != 2 * line.depth) return false;
    if (line.kind == Kind::Open) open.push_back(line.name);
    lines.push_back(line);
    known.next.push_back(read);
  }
  if (at != body.size()) return false;
  known.body.assign(body);
  known.lines.swap(known.next);
  return true;
}

// The raw (escaped) value of attribute `name` of a line, or nothing.
std::optional<std::string_view> attributeOf(const Line& line, std::string_view name) {
  std::string_view rest = line.attributes;
  while (!rest.empty()) {
    const std::size_t equals = rest.find('=');
    const std::size_t close = rest.find('"', equals + 2);
    if (rest.substr(1, equals - 1) == name) return rest.substr(equals + 2, close - equals - 2);
    rest.remove_prefix(close + 1);
  }
  return std::nullopt;
}

// An escaped value as the parser reads it.
std::string decoded(std::string_view value) {
  std::string text;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '&') {
      text += value[i];
      continue;
    }
    const std::string_view rest = value.substr(i);
    if (rest.starts_with("&amp;")) text += '&', i += 4;
    else if (rest.starts_with("&lt;")) text += '<', i += 3;
    else if (rest.starts_with("&gt;")) text += '>', i += 3;
    else if (rest.starts_with("&quot;")) text += '"', i += 5;
    else text += static_cast<char>(characterReference(rest)), i += 4;
  }
  return text;
}

std::string decodedAttribute(const Line& line, std::string_view name) {
  const std::optional<std::string_view> value = attributeOf(line, name);
  return value ? decoded(*value) : std::string();
}

// Indices of the child elements of the open element at `parent`.
std::vector<std::size_t> childrenOf(const std::vector<Line>& lines, std::size_t parent) {
  std::vector<std::size_t> children;
  if (lines[parent].kind != Kind::Open) return children;
  const std::size_t depth = lines[parent].depth + 1;
  for (std::size_t i = parent + 1; i < lines.size() && lines[i].depth >= depth; ++i)
    if (lines[i].depth == depth && lines[i].kind != Kind::Close) children.push_back(i);
  return children;
}

std::optional<std::size_t> childNamed(const std::vector<Line>& lines, const std::vector<std::size_t>& children,
                                      std::string_view name) {
  for (std::size_t i : children)
    if (lines[i].name == name) return i;
  return std::nullopt;
}

std::string_view localName(std::string_view name) {
  const std::size_t colon = name.rfind(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// The decoded `value` attributes of the children `element` of `listing`
// whose attribute `nameAttribute` is `name`.
std::set<std::string> listedValues(const std::vector<Line>& lines, std::size_t listing, std::string_view element,
                                   const char* nameAttribute, const std::string& name) {
  std::set<std::string> listed;
  for (std::size_t i : childrenOf(lines, listing))
    if (lines[i].name == element && decodedAttribute(lines[i], nameAttribute) == name)
      listed.insert(decodedAttribute(lines[i], "value"));
  return listed;
}

}  // namespace

bool writeValueAttribute(XmlText& xml, const std::string& value) {
  const bool plain = xmlCanHold(value);
  xml.attribute("value", plain ? value : percentEncode(value));
  return plain;
}

void writeValueEncoding(XmlText& xml) {
  xml.open("Extension").attribute("name", "value-encoding").attribute("value", "percent").close();
}

std::optional<std::string> segmentModelText(std::string_view pmml, const SplitModelInput& input,
                                            const SplitSegment& group, const std::set<std::string>& schemaFields) {
  static const std::string start = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PMML xmlns=\"") +
                                   kPmmlNamespace + "\" version=\"" + kPmmlVersion + "\">\n";
  if (!pmml.starts_with(start)) return std::nullopt;
  std::vector<Line> lines;
  lines.reserve(64);
  if (!readBody(pmml.substr(start.size()), lines)) return std::nullopt;

  // The model: the first element of the root named RegressionModel, else
  // the first named GeneralRegressionModel, with no namespace prefix.
  std::optional<std::size_t> model;
  for (const char* wanted : {"RegressionModel", "GeneralRegressionModel"}) {
    for (std::size_t i = 0; i < lines.size() && !model; ++i)
      if (lines[i].depth == 1 && lines[i].kind != Kind::Close && localName(lines[i].name) == wanted) model = i;
    if (model) break;
  }
  if (!model || lines[*model].kind != Kind::Open || lines[*model].name != localName(lines[*model].name))
    return std::nullopt;
  std::size_t end = *model + 1;
  while (lines[end].depth != 1) ++end;
  const std::vector<std::size_t> parts = childrenOf(lines, *model);

  // Mining fields the split model does not declare are left out; those of
  // the inputs with held levels are marked.
  std::vector<bool> dropped(lines.size(), false), marked(lines.size(), false);
  std::vector<std::size_t> miningFields;
  if (const std::optional<std::size_t> schema = childNamed(lines, parts, "MiningSchema")) {
    const std::vector<std::size_t> fields = childrenOf(lines, *schema);
    std::size_t kept = 0;
    for (std::size_t i : fields) {
      if (lines[i].name != "MiningField") {
        ++kept;
        continue;
      }
      if (lines[i].kind != Kind::Empty) return std::nullopt;
      if (schemaFields.count(decodedAttribute(lines[i], "name")))
        ++kept, miningFields.push_back(i);
      else
        dropped[i] = true;
    }
    if (!fields.empty() && kept == 0) return std::nullopt;
  }
  // A held category the model does not list gets a coefficient of 0 in
  // each RegressionTable, or a parameter of its own with beta 0 in a
  // GeneralRegressionModel, added after the listing's children.
  std::vector<std::string> added(lines.size());
  const std::optional<std::size_t> cells = childNamed(lines, parts, "PPMatrix");
  const std::optional<std::size_t> parameters = childNamed(lines, parts, "ParameterList");
  const std::optional<std::size_t> betas = childNamed(lines, parts, "ParamMatrix");
  std::string targetCategory;
  if (betas)
    if (const std::optional<std::size_t> first = childNamed(lines, childrenOf(lines, *betas), "PCell"))
      targetCategory = decodedAttribute(lines[*first], "targetCategory");
  const auto addTo = [&](std::size_t listing) -> std::optional<XmlText> {
    if (lines[listing].kind == Kind::Leaf) return std::nullopt;
    return XmlText(added[listing], lines[listing].depth + kSegmentModelDepth);
  };
  std::set<std::string_view> names;
  int level = 0;
  for (const auto& [name, held] : group.levels) {
    if (!names.insert(name).second) return std::nullopt;
    const auto& fieldName = name;  // a lambda may not capture a structured binding before C++20's later compilers
    const auto field = std::find_if(input.fields.begin(), input.fields.end(),
                                    [&](const FieldDef& def) { return def.name == fieldName; });
    if (field == input.fields.end()) return std::nullopt;
    for (std::size_t i : miningFields)
      if (decodedAttribute(lines[i], "name") == name) marked[i] = true;
    if (cells) {
      std::set<std::string> listed = listedValues(lines, *cells, "PPCell", "predictorName", name);
      for (const std::string& raw : held) {
        const std::string value = pmmlCategory(*field, raw);
        if (!listed.insert(value).second) continue;
        if (!parameters || !betas) return std::nullopt;
        std::optional<XmlText> parameter = addTo(*parameters), cell = addTo(*cells), beta = addTo(*betas);
        if (!parameter || !cell || !beta) return std::nullopt;
        const std::string parameterName = "level" + std::to_string(++level);
        parameter->open("Parameter").attribute("name", parameterName).attribute("label", name + value).close();
        const bool plain = writeValueAttribute(cell->open("PPCell"), value);
        cell->attribute("predictorName", name).attribute("parameterName", parameterName);
        if (!plain) writeValueEncoding(*cell);
        cell->close();
        beta->open("PCell");
        if (!targetCategory.empty()) beta->attribute("targetCategory", targetCategory);
        beta->attribute("parameterName", parameterName).attribute("beta", "0").attribute("df", "1").close();
      }
      continue;
    }
    for (std::size_t table : parts) {
      if (lines[table].name != "RegressionTable") continue;
      std::set<std::string> listed = listedValues(lines, table, "CategoricalPredictor", "name", name);
      for (const std::string& raw : held) {
        const std::string category = pmmlCategory(*field, raw);
        if (!listed.insert(category).second) continue;
        std::optional<XmlText> predictor = addTo(table);
        if (!predictor) return std::nullopt;
        const bool plain = writeValueAttribute(predictor->open("CategoricalPredictor").attribute("name", name), category);
        predictor->attribute("coefficient", "0");
        if (!plain) writeValueEncoding(*predictor);
        predictor->close();
      }
    }
  }

  // Where the additions go: before the listing's end tag, or into an empty
  // listing, which is then printed with start and end tags.
  std::vector<const std::string*> before(lines.size(), nullptr);
  for (std::size_t i = *model; i <= end; ++i) {
    if (added[i].empty() || lines[i].kind != Kind::Open) continue;
    std::size_t close = i + 1;
    while (lines[close].depth != lines[i].depth) ++close;
    before[close] = &added[i];
  }

  std::string text;
  text.reserve(static_cast<std::size_t>(lines[end].text.end() - lines[*model].text.begin()) +
               16 * (end - *model + 1));
  constexpr std::string_view treatment = "invalidValueTreatment";
  for (std::size_t i = *model; i <= end; ++i) {
    if (dropped[i]) continue;
    if (before[i]) text += *before[i];
    const Line& line = lines[i];
    const std::size_t indent = 2 * (line.depth + kSegmentModelDepth - 1);
    text.append(indent, ' ');
    if (line.kind == Kind::Empty && !added[i].empty()) {
      text += line.text.substr(0, line.text.size() - 3);
      text += ">\n";
      text += added[i];
      text.append(indent, ' ');
      text += "</";
      text += line.name;
      text += '>';
    } else if (!marked[i]) {
      text += line.text;
    } else if (const std::optional<std::string_view> value = attributeOf(line, treatment)) {
      const std::size_t at = static_cast<std::size_t>(value->data() - line.text.data());
      text += line.text.substr(0, at);
      text += "returnInvalid";
      text += line.text.substr(at + value->size());
    } else {
      text += line.text.substr(0, line.text.size() - 3);
      text += " invalidValueTreatment=\"returnInvalid\" />";
    }
    text += '\n';
  }
  return text;
}

}  // namespace splitmodels::detail
