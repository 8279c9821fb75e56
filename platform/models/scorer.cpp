#include "splitmodels/scorer.h"

namespace splitmodels {

struct SplitScorer::Impl {
  std::string target;
  std::vector<std::string> labels;
  std::vector<std::string> fields;
};

SplitScorer::SplitScorer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SplitScorer::SplitScorer(SplitScorer&&) noexcept = default;
SplitScorer& SplitScorer::operator=(SplitScorer&&) noexcept = default;
SplitScorer::~SplitScorer() = default;

SplitScorer SplitScorer::fromPmml(const std::string&) { throw ScoreError("not implemented"); }
void SplitScorer::bind(const std::vector<std::string>&) {}
ScoreResult SplitScorer::score(const std::vector<std::optional<std::string>>&) const { return {}; }
const std::string& SplitScorer::targetName() const { return impl_->target; }
bool SplitScorer::isClassification() const { return false; }
const std::vector<std::string>& SplitScorer::classLabels() const { return impl_->labels; }
const std::vector<std::string>& SplitScorer::requiredFields() const { return impl_->fields; }

}  // namespace splitmodels
