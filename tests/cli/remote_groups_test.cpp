// A group fitted in a worker process and adopted by the host process leaves
// the host's GroupWorker as a local fit would: same summary, terms, keys and
// categories, and the same documents.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include <refhost/table.h>
#include <refhost/wire.h>

#include "group_worker.h"
#include "remote_groups.h"

namespace splitrun {
namespace {

using refhost::Cell;

refhost::WorkerJob groupJob(size_t groupIndex) {
    refhost::Table table({{"region", 3, 3}, {"price", 2, 1}, {"channel", 3, 3}, {"revenue", 2, 1}});
    const char* channels[] = {"online", "store", "phone"};
    for (int i = 0; i < 12; ++i)
        table.addRow({Cell::text("north"), Cell::real(1.0 + i * 0.5), Cell::text(channels[i % 3]),
                      Cell::real(10.0 + 2.0 * i + (i % 3) * 1.5 + (i % 2) * 0.25)});
    refhost::DataModelOptions options;
    options.roles = {{"region", "split"}, {"price", "input"}, {"channel", "input"}, {"revenue", "target"}};
    refhost::WorkerJob job;
    job.groupIndex = groupIndex;
    job.records = std::move(table);
    job.dataModel = refhost::dataModelXml(job.records, options);
    return job;
}

splitmodels::ModelSpec linearSpec() {
    splitmodels::ModelSpec spec;
    spec.target = "revenue";
    spec.inputs = {"price", "channel"};
    spec.references = {{"channel", "store"}};
    return spec;
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(RemoteGroups, AdoptedGroupEqualsLocalFit) {
    const std::vector<std::string> split{"region"};
    GroupWorker local(linearSpec());
    local.keepSplitKeys(split);
    GroupWorker host(linearSpec());
    host.keepSplitKeys(split);
    const refhost::WorkerFunction remote = remoteWorkerFunction(encodeRemoteSetup(linearSpec(), split));

    const refhost::WorkerJob job = groupJob(6);
    const refhost::WorkerOutput expected = local(job);
    // As it travels: encoded in the worker process, decoded in the host.
    refhost::WorkerOutput received =
        refhost::decodeOutput(refhost::encodeOutput(remote(refhost::decodeJob(refhost::encodeJob(job)))));
    adoptAttachment(host, job, received);

    EXPECT_EQ(received.outcome, expected.outcome);
    EXPECT_EQ(received.statXml, expected.statXml);
    EXPECT_EQ(received.pmml, expected.pmml);
    EXPECT_TRUE(received.attachment.empty());
    const splitmodels::GroupModel* want = local.model(6);
    const splitmodels::GroupModel* got = host.model(6);
    ASSERT_NE(want, nullptr);
    ASSERT_NE(got, nullptr);
    EXPECT_TRUE(got->ok);
    EXPECT_EQ(got->records, want->records);
    EXPECT_EQ(got->warnings, want->warnings);
    ASSERT_EQ(got->terms.size(), want->terms.size());
    for (size_t i = 0; i < want->terms.size(); ++i) {
        EXPECT_EQ(got->terms[i].name, want->terms[i].name);
        EXPECT_TRUE(sameBits(got->terms[i].estimate, want->terms[i].estimate));
        EXPECT_TRUE(sameBits(got->terms[i].pValue, want->terms[i].pValue));
    }
    for (auto field : {&splitmodels::GroupModel::sigma, &splitmodels::GroupModel::rSquared,
                       &splitmodels::GroupModel::fStatistic, &splitmodels::GroupModel::aic})
        EXPECT_TRUE(sameBits(got->*field, want->*field));
    ASSERT_NE(host.splitKeys(6), nullptr);
    ASSERT_EQ(host.splitKeys(6)->size(), 1u);
    EXPECT_EQ(host.splitKeys(6)->front().front().value, "north");
    ASSERT_NE(host.heldLevels(6), nullptr);
    EXPECT_EQ(*host.heldLevels(6), *local.heldLevels(6));
}

TEST(RemoteGroups, FailedGroupTravelsAsFailure) {
    GroupWorker host(linearSpec());
    splitmodels::ModelSpec spec = linearSpec();
    spec.inputs = {"price", "absent"};
    const refhost::WorkerFunction remote = remoteWorkerFunction(encodeRemoteSetup(spec, {}));
    const refhost::WorkerJob job = groupJob(0);
    refhost::WorkerOutput output = remote(job);
    adoptAttachment(host, job, output);
    EXPECT_EQ(output.outcome, 1);
    EXPECT_NE(output.reason.find("unknown field"), std::string::npos);
    ASSERT_NE(host.model(0), nullptr);
    EXPECT_FALSE(host.model(0)->ok);
    EXPECT_EQ(host.model(0)->reason, output.reason);
}

TEST(RemoteGroups, BrokenAttachmentOrSetupIsRefused) {
    GroupWorker::Kept kept;
    kept.model.terms.push_back({"(Intercept)", 1, 2, 3, 4});
    kept.keys = {{{"region", "north", false, 3}}};
    const std::string bytes = encodeKept(kept);
    EXPECT_THROW(decodeKept(std::string_view(bytes).substr(0, bytes.size() - 1)), refhost::WireError);
    const std::string setup = encodeRemoteSetup(linearSpec(), {"region"});
    EXPECT_THROW(remoteWorkerFunction(setup.substr(0, setup.size() - 2)), refhost::WireError);
}

}  // namespace
}  // namespace splitrun
