// A group fitted in a worker process and adopted by the host equals a local fit.
#include <gtest/gtest.h>
#include <refhost/table.h>
#include <refhost/wire.h>

#include <cstring>

#include "group_worker.h"
#include "kept_model.h"
#include "remote_groups.h"

namespace splitrun {
namespace {
using refhost::Cell;
using splitmodels::GroupModel;

refhost::WorkerJob groupJob(size_t groupIndex) {
    refhost::WorkerJob job;
    job.groupIndex = groupIndex;
    refhost::Table records({{"region", 3, 3}, {"price", 2, 1}, {"channel", 3, 3}, {"revenue", 2, 1}});
    for (int i = 0; i < 12; ++i)
        records.addRow({Cell::text("north"), Cell::real(1.0 + i * 0.5),
                            Cell::text(i % 3 == 0 ? "online" : i % 3 == 1 ? "store" : "phone"),
                            Cell::real(10.0 + 2.0 * i + (i % 3) * 1.5 + (i % 2) * 0.25)});
    refhost::DataModelOptions options;
    options.roles = {{"region", "split"}, {"price", "input"}, {"channel", "input"}, {"revenue", "target"}};
    job.dataModel = std::make_shared<const std::string>(refhost::dataModelXml(records, options));
    job.records = std::move(records);
    return job;
}

splitmodels::ModelSpec linearRequest(std::vector<std::string> inputs = {"price", "channel"}) {
    splitmodels::ModelSpec request;
    request.target = "revenue";
    request.inputs = std::move(inputs);
    request.references = {{"channel", "store"}};
    return request;
}

// A glm with every setting the setup must carry: family, link, weights,
// offset and the iteration's control.
splitmodels::ModelSpec glmRequest() {
    splitmodels::ModelSpec request = linearRequest({"channel"});
    request.kind = splitmodels::ModelKind::Glm;
    request.family = "Gamma";
    request.link = "log";
    request.weights = "price";
    request.offset = "price";
    request.epsilon = 1e-12;
    request.maxIterations = 40;
    return request;
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(RemoteGroups, AdoptedGroupEqualsLocalFitBitForBitAndBrokenBytesAreRefused) {
  for (const splitmodels::ModelSpec& request : {linearRequest(), glmRequest()}) {
    SCOPED_TRACE(request.family);
    const std::vector<std::string> split{"region"};
    GroupWorker local(request), host(request);
    local.keepSplitKeys(split);
    host.keepSplitKeys(split);
    const refhost::WorkerJob job = groupJob(6);
    const refhost::WorkerOutput expected = local(job);
    const std::string setup = encodeRemoteSetup(request, split);
    // Encoded in the worker process, decoded in the host.
    refhost::WorkerOutput received = refhost::decodeOutput(
        refhost::encodeOutput(remoteWorkerFunction(setup)(refhost::decodeJob(refhost::encodeJob(job)))));
    adoptAttachment(host, job, received);
    EXPECT_EQ(std::tie(received.outcome, received.statXml, received.pmml, received.attachment),
              std::tie(expected.outcome, expected.statXml, expected.pmml, ""));
    ASSERT_TRUE(local.model(6) && host.model(6));
    const GroupModel wantModel = local.model(6)->expanded(), gotModel = host.model(6)->expanded();
    const GroupModel *want = &wantModel, *got = &gotModel;
    ASSERT_TRUE(got->ok && got->terms.size() == want->terms.size());
    EXPECT_EQ(std::tie(got->records, got->warnings), std::tie(want->records, want->warnings));
    for (size_t i = 0; i < want->terms.size(); ++i)
        EXPECT_TRUE(got->terms[i].name == want->terms[i].name && sameBits(got->terms[i].pValue, want->terms[i].pValue) &&
                    sameBits(got->terms[i].estimate, want->terms[i].estimate)) << i;
    for (auto field : {&GroupModel::sigma, &GroupModel::rSquared, &GroupModel::fStatistic, &GroupModel::aic,
                       &GroupModel::dispersion})
        EXPECT_TRUE(sameBits(got->*field, want->*field));
    ASSERT_EQ(got->covariance.size(), want->terms.size() * want->terms.size());
    for (size_t i = 0; i < want->covariance.size(); ++i)
        EXPECT_TRUE(sameBits(got->covariance[i], want->covariance[i])) << "covariance " << i;
    EXPECT_EQ(std::tie(got->family, got->link, got->iterations, got->converged),
              std::tie(want->family, want->link, want->iterations, want->converged));
    const std::string kept = encodeKept(local.release(6));  // split keys and held levels too
    EXPECT_EQ(encodeKept(host.release(6)), kept);
    EXPECT_THROW(decodeKept(std::string_view(kept).substr(0, kept.size() - 1)), refhost::WireError);
    EXPECT_THROW(remoteWorkerFunction(setup.substr(0, setup.size() - 2)), refhost::WireError);
  }
}

TEST(RemoteGroups, FailedGroupTravelsAsFailure) {
    GroupWorker host(linearRequest());
    const refhost::WorkerJob job = groupJob(0);
    refhost::WorkerOutput output = remoteWorkerFunction(encodeRemoteSetup(linearRequest({"price", "absent"}), {}))(job);
    adoptAttachment(host, job, output);
    EXPECT_EQ(output.outcome, 1);
    EXPECT_NE(output.reason.find("unknown field"), std::string::npos);
    ASSERT_TRUE(host.model(0) && !host.model(0)->ok);
    EXPECT_EQ(host.model(0)->reason(), output.reason);
}

// Groups share one copy of their term names, family and link only when all
// of them agree; a group after one of another shape finds its own again.
TEST(RemoteGroups, KeptModelsShareAShapeOnlyWhenTermsFamilyAndLinkAgree) {
    GroupModel a;
    a.terms = {{"(Intercept)", 1.5, 0.5, 3, 0.01}, {"price", -2, 1, -2, 0.05}};
    a.covariance = {0.25, -0.1, -0.1, 1};
    a.family = "gaussian";
    a.link = "identity";
    GroupModel otherTerm = a, otherLink = a;
    otherTerm.terms[1].name = "pricf";
    otherLink.link = "log";
    ModelShapes shapes;
    const KeptModel first(a, &shapes), renamed(otherTerm, &shapes), relinked(otherLink, &shapes), again(a, &shapes);
    EXPECT_EQ(&first.term(1).name, &again.term(1).name);
    EXPECT_NE(&first.term(1).name, &renamed.term(1).name);
    EXPECT_NE(&first.term(1).name, &relinked.term(1).name);
    EXPECT_EQ(std::tie(renamed.term(1).name, relinked.link(), again.link()), std::tie("pricf", "log", "identity"));
    EXPECT_EQ(encodeKept(again, nullptr, nullptr), encodeKept(GroupWorker::Kept{a, {}, {}}));
}
}  // namespace
}  // namespace splitrun
