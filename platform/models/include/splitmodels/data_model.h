// An input data model parsed once for a whole run: the fields every
// group's records are read against, and the Field elements every group's
// StatXML copies, printed once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "splitmodels/data.h"

namespace splitmodels {

// Immutable once made: every thread of a run shares one, and every group's
// model reads it without a lock.
class DataModel {
 public:
  // Parses `xml` (root "DataModel" with a "Fields" child of "Field"
  // elements). `copied` names the fields whose Field elements the groups'
  // StatXML documents copy (the target and inputs); each is printed once
  // per role here. Never throws for a bad document: fields() does.
  DataModel(std::string xml, const std::vector<std::string>& copied);

  // The fields in document order, as parseDataModelFields reads them.
  // Throws std::invalid_argument naming what is wrong when the document
  // does not parse, refers to a character XML does not allow, or has no
  // Fields element.
  const std::vector<FieldDef>& fields() const;
  // The last field of that name; null when the document describes none (or
  // its fields could not be read).
  const FieldDef* field(std::string_view name) const;

  // The StatXML's copy of the FieldFormats element (empty when there is
  // none) and the Fields element's caseSensitive attribute ("true" when it
  // has none). A document that fails to parse keeps the FieldFormats read
  // before the error.
  const std::string& formats() const { return formats_; }
  const std::string& caseSensitive() const { return caseSensitive_; }
  // The first Field element of `name`, with its role set to "target" or
  // "input", indented for the StatXML; empty when the document describes
  // no such field. A field not named in `copied` is printed into `scratch`
  // from a parse of its own, and the view is of `scratch`.
  std::string_view fieldCopy(const std::string& name, bool target, std::string& scratch) const;

 private:
  struct Copy {
    std::string asTarget, asInput;
  };
  std::string xml_;
  std::vector<FieldDef> fields_;
  std::string fieldsError_;  // why fields() throws; empty when it does not
  std::unordered_map<std::string_view, std::size_t> byName_;  // into fields_
  std::string formats_;
  std::string caseSensitive_ = "true";
  std::unordered_map<std::string, Copy> copies_;
};

}  // namespace splitmodels
