#include "carried_fields.h"

#include <algorithm>
#include <string>

#include <splitmodels/group_model.h>

namespace splitrun {

std::vector<bool> carriedColumns(const BuildOptions& options, const std::vector<refhost::Column>& columns)
{
    std::vector<std::string> names = options.splitFields;
    if (!options.formula.empty()) {
        splitmodels::FormulaFields formula;
        if (splitmodels::checkFormula(options.formula, formula) || formula.dot) return {};
        names.insert(names.end(), formula.responseFields.begin(), formula.responseFields.end());
        names.insert(names.end(), formula.inputs.begin(), formula.inputs.end());
        names.push_back(formula.target);
    } else {
        if (options.inputs.empty()) return {};
        names.push_back(options.target);
        names.insert(names.end(), options.inputs.begin(), options.inputs.end());
    }
    for (const std::string* field : {&options.glm.weights, &options.glm.offset})
        if (!field->empty()) names.push_back(*field);
    std::vector<bool> carried(columns.size());
    for (std::size_t c = 0; c < columns.size(); ++c)
        carried[c] = std::find(names.begin(), names.end(), columns[c].name) != names.end();
    return carried;
}

}  // namespace splitrun
