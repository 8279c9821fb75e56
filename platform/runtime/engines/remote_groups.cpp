#include "remote_groups.h"

#include <memory>

#include <refhost/wire.h>

namespace splitrun {

namespace {

using refhost::WireReader;
using refhost::WireWriter;

void writeTexts(WireWriter& out, const std::vector<std::string>& texts)
{
    out.u64(texts.size());
    for (const std::string& text : texts) out.text(text);
}

std::vector<std::string> readTexts(WireReader& in)
{
    std::vector<std::string> texts(in.count(8));
    for (std::string& text : texts) text = in.text();
    return texts;
}

void writeModel(WireWriter& out, const KeptModel& model)
{
    out.u8(model.ok ? 1 : 0);
    out.text(model.reason());
    out.u64(model.records);
    out.u64(model.skippedRecords);
    writeTexts(out, model.warnings());
    out.u64(model.termCount());
    for (std::size_t i = 0; i < model.termCount(); ++i) {
        const KeptTerm term = model.term(i);
        out.text(term.name);
        for (double value : {term.estimate, term.stdError, term.statistic, term.pValue}) out.f64(value);
    }
    for (double value : {model.dfResidual, model.sigma, model.rSquared, model.adjustedRSquared, model.fStatistic,
                         model.fPValue, model.deviance, model.nullDeviance, model.dfNull, model.aic,
                         model.accuracy, model.logLikelihood, model.auc})
        out.f64(value);
    out.i64(model.iterations);
    out.u64(model.covariance().size());
    for (double value : model.covariance()) out.f64(value);
    out.text(model.family());
    out.text(model.link());
    out.f64(model.dispersion);
    out.u8(model.converged ? 1 : 0);
}

void writeKeys(WireWriter& out, const std::vector<SplitKey>& keys,
               const std::vector<std::pair<std::string, std::vector<std::string>>>& levels)
{
    out.u64(keys.size());
    for (const SplitKey& key : keys) {
        out.u64(key.size());
        for (const splitmodels::SplitValue& value : key) {
            out.text(value.field);
            out.text(value.value);
            out.u8(value.missing ? 1 : 0);
            out.i64(value.storage);
        }
    }
    out.u64(levels.size());
    for (const auto& [field, fieldLevels] : levels) {
        out.text(field);
        writeTexts(out, fieldLevels);
    }
}

splitmodels::GroupModel readModel(WireReader& in)
{
    splitmodels::GroupModel model;
    model.ok = in.u8() != 0;
    model.reason = in.text();
    model.records = static_cast<std::size_t>(in.u64());
    model.skippedRecords = static_cast<std::size_t>(in.u64());
    model.warnings = readTexts(in);
    model.terms.resize(in.count(40));
    for (splitmodels::Term& term : model.terms) {
        term.name = in.text();
        for (double* value : {&term.estimate, &term.stdError, &term.statistic, &term.pValue}) *value = in.f64();
    }
    for (double* value : {&model.dfResidual, &model.sigma, &model.rSquared, &model.adjustedRSquared,
                          &model.fStatistic, &model.fPValue, &model.deviance, &model.nullDeviance, &model.dfNull,
                          &model.aic, &model.accuracy, &model.logLikelihood, &model.auc})
        *value = in.f64();
    model.iterations = static_cast<int>(in.i64());
    model.covariance.resize(in.count(8));
    for (double& value : model.covariance) value = in.f64();
    model.family = in.text();
    model.link = in.text();
    model.dispersion = in.f64();
    model.converged = in.u8() != 0;
    return model;
}

}  // namespace

std::string encodeRemoteSetup(const splitmodels::ModelSpec& request, const std::vector<std::string>& splitFields,
                              bool skipNonFinite)
{
    WireWriter out;
    out.u8(static_cast<unsigned char>(request.kind));
    out.text(request.target);
    writeTexts(out, request.inputs);
    out.text(request.event);
    out.u64(request.references.size());
    for (const auto& [field, level] : request.references) {
        out.text(field);
        out.text(level);
    }
    writeTexts(out, splitFields);
    out.u8(skipNonFinite ? 1 : 0);
    for (const std::string* text : {&request.family, &request.link, &request.weights, &request.offset, &request.formula})
        out.text(*text);
    out.f64(request.epsilon);
    out.i64(request.maxIterations);
    return out.take();
}

refhost::WorkerFunction remoteWorkerFunction(const std::string& setup)
{
    WireReader in(setup);
    splitmodels::ModelSpec request;
    const unsigned kind = in.u8();
    request.kind = kind == 1 ? splitmodels::ModelKind::Logistic
                   : kind == 2 ? splitmodels::ModelKind::Glm
                               : splitmodels::ModelKind::Linear;
    request.target = in.text();
    request.inputs = readTexts(in);
    request.event = in.text();
    for (std::size_t n = in.count(16); n > 0; --n) {
        std::string field = in.text();
        request.references[field] = in.text();
    }
    std::vector<std::string> splitFields = readTexts(in);
    const bool skipNonFinite = in.u8() != 0;
    for (std::string* text : {&request.family, &request.link, &request.weights, &request.offset, &request.formula})
        *text = in.text();
    request.epsilon = in.f64();
    request.maxIterations = static_cast<int>(in.i64());
    in.expectEnd();

    auto worker = std::make_shared<GroupWorker>(std::move(request));
    worker->keepSplitKeys(std::move(splitFields));
    if (skipNonFinite) worker->skipNonFinite();
    return [worker](const refhost::WorkerJob& job) {
        refhost::WorkerOutput output = (*worker)(job);
        output.attachment = encodeKept(worker->release(job.groupIndex));
        return output;
    };
}

void adoptAttachment(GroupWorker& worker, const refhost::WorkerJob& job, refhost::WorkerOutput& output)
{
    if (output.attachment.empty()) return;
    worker.adopt(job.groupIndex, decodeKept(output.attachment));
    output.attachment.clear();
}

std::string encodeKept(const GroupWorker::Kept& kept)
{
    WireWriter out;
    writeModel(out, KeptModel(kept.model));
    writeKeys(out, kept.keys, kept.levels);
    return out.take();
}

std::string encodeKept(const KeptModel& model, const std::vector<SplitKey>* keys,
                       const std::vector<std::pair<std::string, std::vector<std::string>>>* levels)
{
    static const std::vector<SplitKey> kNoKeys;
    static const std::vector<std::pair<std::string, std::vector<std::string>>> kNoLevels;
    WireWriter out;
    // Room for a model of a few terms, so that the writes seldom grow it.
    out.bytes().reserve(512);
    writeModel(out, model);
    writeKeys(out, keys ? *keys : kNoKeys, levels ? *levels : kNoLevels);
    return out.take();
}

GroupWorker::Kept decodeKept(std::string_view bytes)
{
    WireReader in(bytes);
    GroupWorker::Kept kept;
    kept.model = readModel(in);
    kept.keys.resize(in.count(8));
    for (SplitKey& key : kept.keys) {
        key.resize(in.count(25));
        for (splitmodels::SplitValue& value : key) {
            value.field = in.text();
            value.value = in.text();
            value.missing = in.u8() != 0;
            value.storage = static_cast<int>(in.i64());
        }
    }
    kept.levels.resize(in.count(16));
    for (auto& [field, levels] : kept.levels) {
        field = in.text();
        levels = readTexts(in);
    }
    in.expectEnd();
    return kept;
}

}  // namespace splitrun
