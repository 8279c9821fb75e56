#include "data_model_text.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string_view>

#include <pugixml.hpp>

#include "errors.h"
#include "value_parsing.h"

namespace splitrun {

namespace {

// The most bytes of category text listed for a field no model reads. Such
// a field's categories serve no fit, and a column of long distinct texts
// (notes, identifiers) would otherwise reach every worker in the data model
// whatever --memory-limit, up to what profiling keeps of its texts. Below
// what a file too large to load keeps, so that loaded and streamed builds
// list the same.
constexpr std::size_t kUnusedCategoryBytes = std::size_t{1} << 20;

// Bytes of the Value texts of a Field.
std::size_t categoryBytes(const pugi::xml_node& field)
{
    std::size_t bytes = 0;
    for (pugi::xml_node value : field.children("Value")) bytes += std::strlen(value.attribute("value").value());
    return bytes;
}

// Sorts the Value children of every Field in place, and removes those of
// the fields named in `unlisted` and of unused fields with long categories.
// A field named in `longest` gets that maxStringLength.
std::string sortCategories(const std::string& text, const std::set<std::string>& unlisted,
                           const std::map<std::string, std::size_t>& longest)
{
    pugi::xml_document doc;
    if (!doc.load_buffer(text.data(), text.size()))
        throw RunError("the data model built from the data does not parse");
    for (pugi::xml_node field : doc.document_element().child("Fields").children("Field")) {
        const Storage storage = storageFromName(field.attribute("storage").value());
        if (const auto found = longest.find(field.attribute("name").value());
            found != longest.end() && field.attribute("maxStringLength"))
            field.attribute("maxStringLength").set_value(std::to_string(found->second).c_str());
        std::vector<std::string> values;
        if (unlisted.count(field.attribute("name").value()) ||
            (std::string_view(field.attribute("role").value()) == "none" && categoryBytes(field) > kUnusedCategoryBytes)) {
            while (field.remove_child("Value")) {
            }
            continue;
        }
        for (pugi::xml_node value : field.children("Value")) values.push_back(value.attribute("value").value());
        if (values.size() < 2) continue;
        std::stable_sort(values.begin(), values.end(), [storage](const std::string& a, const std::string& b) {
            const auto x = parseNumber(storage, a);
            const auto y = parseNumber(storage, b);
            return x && y ? *x < *y : a < b;
        });
        while (field.remove_child("Value")) {
        }
        for (const std::string& value : values)
            field.append_child("Value").append_attribute("value").set_value(value.c_str());
    }
    std::ostringstream out;
    doc.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
    return out.str();
}

}  // namespace

std::string componentDataModel(const CsvTable& data, const refhost::Table& table,
                               const ModelFields& fields)
{
    if (!data.dataModelText.empty()) return data.dataModelText;
    refhost::DataModelOptions model;
    for (const refhost::Column& column : table.columns()) model.roles[column.name] = "none";
    for (const std::string& name : fields.inputs) model.roles[name] = "input";
    for (const std::string& name : fields.split) model.roles[name] = "split";
    model.roles[fields.target] = "target";
    model.recordCounts = true;
    std::string text = refhost::dataModelXml(table, model);
    if (data.streamedRecords) {
        // The table is a digest of the file; the count is the file's.
        const std::string digestCount = "<RecordCounts total=\"" + std::to_string(table.rowCount()) + "\"/>";
        const std::size_t at = text.find(digestCount);
        if (at != std::string::npos)
            text.replace(at, digestCount.size(),
                         "<RecordCounts total=\"" + std::to_string(*data.streamedRecords) + "\"/>");
    }
    // A column with more distinct values than a model could use as
    // categories lists none, whether the file was loaded or profiled (which
    // kept only the first of them): it is no set of categories, and every
    // worker would otherwise get and parse them all. Nor does one whose
    // texts profiling had no room to keep. A profiled file's longest texts
    // are measured, not kept in the digest.
    std::set<std::string> unlisted;
    std::map<std::string, std::size_t> longest;
    for (const FieldSummary& field : data.fields) {
        if (field.moreCategories || field.categories > kCategoryLimit || field.categoriesUnkept)
            unlisted.insert(field.name);
        if (data.streamedRecords) longest[field.name] = field.longestText;
    }
    return sortCategories(text, unlisted, longest);
}

}  // namespace splitrun
