// What a build keeps of a group's fit once its documents have gone to the
// host: the summary the tables, the report and the groups rows read, in
// about a third of a GroupModel's room. At 100,000 groups a whole
// GroupModel per group (its empty document strings, its vectors and texts)
// cost about 40 MB of a run's peak.
#ifndef SPLITRUN_KEPT_MODEL_H
#define SPLITRUN_KEPT_MODEL_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include <splitmodels/group_model.h>

namespace splitrun {

// The parts of a fit most groups of a run share: the terms' names, the
// family and the link.
struct ModelShape {
    std::vector<std::string> termNames;
    std::string family;
    std::string link;
};

// Hands out one shared ModelShape per distinct shape, so that groups whose
// fits have the same terms, family and link hold one copy between them.
// Thread-safe.
class ModelShapes {
public:
    std::shared_ptr<const ModelShape> of(const splitmodels::GroupModel& model);

private:
    std::mutex mutex_;
    std::shared_ptr<const ModelShape> last_;
    std::unordered_map<std::string, std::shared_ptr<const ModelShape>> byKey_;
};

// One term of a kept model, its name shared with the model's shape.
struct KeptTerm {
    const std::string& name;
    double estimate;
    double stdError;
    double statistic;
    double pValue;
};

// A group's fit without its documents and fitted values. The scalar
// summary is kept as GroupModel names it; the terms, covariance, texts and
// warnings through the accessors below.
class KeptModel {
public:
    KeptModel() = default;
    // Keeps the summary of `model`; with `shapes`, its shape is shared with
    // the other groups of that table.
    explicit KeptModel(const splitmodels::GroupModel& model, ModelShapes* shapes = nullptr);

    // The summary as a GroupModel (no documents, no fitted values).
    splitmodels::GroupModel expanded() const;

    std::size_t termCount() const { return shape_ ? shape_->termNames.size() : 0; }
    KeptTerm term(std::size_t i) const;
    // Row by row over the estimated terms (see GroupModel::covariance).
    std::span<const double> covariance() const;
    const std::string& family() const;
    const std::string& link() const;
    const std::string& reason() const;
    const std::vector<std::string>& warnings() const;

    bool ok = false;
    bool converged = true;
    int iterations = 0;
    std::size_t records = 0;
    std::size_t skippedRecords = 0;
    double dfResidual = 0.0;
    double sigma = 0.0;
    double rSquared = 0.0;
    double adjustedRSquared = 0.0;
    double fStatistic = 0.0;
    double fPValue = 0.0;
    double deviance = 0.0;
    double nullDeviance = 0.0;
    double dfNull = 0.0;
    double aic = 0.0;
    double accuracy = 0.0;
    double logLikelihood = 0.0;
    double auc = 0.0;
    double dispersion = 0.0;

private:
    // A failed group's reason and a fitted one's warnings: most groups
    // have neither, so they cost a pointer.
    struct Notes {
        std::string reason;
        std::vector<std::string> warnings;
    };
    std::shared_ptr<const ModelShape> shape_;
    // Four values per term (estimate, standard error, statistic, p value),
    // then the covariance.
    std::unique_ptr<double[]> values_;
    std::uint32_t covarianceSize_ = 0;
    std::unique_ptr<Notes> notes_;
};

}  // namespace splitrun

#endif
