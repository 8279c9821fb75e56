#include "splitmodels/group_model.h"

#include <set>

#include "fits.h"
#include "group_writers.h"
#include "pmml_names.h"

namespace splitmodels {

namespace {

using detail::Design;

std::optional<std::string> checkRequest(const ModelSpec& request) {
  std::set<std::string> seen;
  for (const std::string& input : request.inputs) {
    if (input == request.target) return "target is also an input: " + input;
    if (!seen.insert(input).second) return "input listed twice: " + input;
  }
  return std::nullopt;
}

void keepCoefficients(const Design& design, const Eigen::VectorXd& beta, GroupModel& model) {
  for (std::size_t j = 0; j < design.columnNames.size(); ++j)
    model.coefficients.emplace_back(design.columnNames[j], beta(static_cast<Eigen::Index>(j)));
}

void buildLinear(const GroupRecords& data, const ModelSpec& request, const Design& design, GroupModel& model) {
  const FieldDef& target = data.fields()[design.targetField];
  if (target.storage == StorageString || !detail::isContinuous(target)) {
    model.reason = "target is not continuous: " + request.target;
    return;
  }
  Eigen::VectorXd y(static_cast<Eigen::Index>(design.rows.size()));
  for (std::size_t i = 0; i < design.rows.size(); ++i)
    y(static_cast<Eigen::Index>(i)) = design.target.numbers[design.rows[i]];
  detail::LinearFit fit;
  if (auto reason = detail::fitLinear(design.x, y, design.columnNames, fit)) {
    model.reason = *reason;
    return;
  }
  model.rSquared = fit.rSquared;
  model.adjustedRSquared = fit.adjustedRSquared;
  model.rmse = fit.rmse;
  model.fitted.assign(fit.fitted.begin(), fit.fitted.end());
  keepCoefficients(design, fit.beta, model);
  model.pmml = detail::writeGroupPmml(data.fields(), request, design, fit.beta, nullptr);
  model.statXML = detail::writeGroupStatXml(data.fields(), request, design, model, nullptr);
  model.ok = true;
}

void buildLogistic(const GroupRecords& data, const ModelSpec& request, const Design& design, GroupModel& model) {
  detail::TargetClasses classes;
  Eigen::VectorXd y;
  if (auto reason = detail::binaryTarget(data.fields()[design.targetField], request, design, classes, y)) {
    model.reason = *reason;
    return;
  }
  detail::LogisticFit fit;
  if (auto reason = detail::fitLogistic(design.x, y, design.columnNames, fit)) {
    model.reason = *reason;
    return;
  }
  model.accuracy = fit.accuracy;
  model.logLikelihood = fit.logLikelihood;
  model.auc = fit.auc;
  model.fitted.assign(fit.probability.begin(), fit.probability.end());
  keepCoefficients(design, fit.beta, model);
  model.pmml = detail::writeGroupPmml(data.fields(), request, design, fit.beta, &classes);
  model.statXML = detail::writeGroupStatXml(data.fields(), request, design, model, &classes);
  model.ok = true;
}

}  // namespace

GroupModel buildGroupModel(const GroupRecords& data, const ModelSpec& request) {
  GroupModel model;
  try {
    if (auto reason = checkRequest(request)) {
      model.reason = *reason;
      return model;
    }
    Design design;
    if (auto reason = detail::buildDesign(data, request, design)) {
      model.reason = *reason;
      return model;
    }
    model.records = design.rows.size();
    model.skippedRecords = design.skipped;
    if (request.kind == ModelKind::Logistic)
      buildLogistic(data, request, design, model);
    else
      buildLinear(data, request, design, model);
  } catch (const std::exception& error) {  // allocation failure and the like
    model = GroupModel{};
    model.reason = std::string("build failed: ") + error.what();
  }
  return model;
}

namespace {

// Rows of cells read field by field.
class RowRecords : public GroupRecords {
public:
  explicit RowRecords(const GroupData& data) : data_(data) {}
  const std::vector<FieldDef>& fields() const override { return data_.fields; }
  std::size_t rowCount() const override { return data_.rows.size(); }
  void readField(std::size_t field, FieldColumn& out) const override {
    const std::size_t n = data_.rows.size();
    const bool text = data_.fields[field].storage == StorageString;
    out.missing.assign(n, 0);
    out.numbers.assign(text ? 0 : n, 0.0);
    out.texts.assign(text ? n : 0, std::string_view());
    for (std::size_t r = 0; r < n; ++r) {
      const Cell& cell = data_.rows[r][field];
      out.missing[r] = cell.missing;
      if (text)
        out.texts[r] = cell.text;
      else
        out.numbers[r] = cell.number;
    }
  }

private:
  const GroupData& data_;
};

}  // namespace

GroupModel buildGroupModel(const GroupData& data, const ModelSpec& request) {
  for (std::size_t r = 0; r < data.rows.size(); ++r) {
    if (data.rows[r].size() == data.fields.size()) continue;
    GroupModel model;
    model.reason = "row " + std::to_string(r + 1) + " has " + std::to_string(data.rows[r].size()) +
                   " values for " + std::to_string(data.fields.size()) + " fields";
    return model;
  }
  return buildGroupModel(RowRecords(data), request);
}

}  // namespace splitmodels
