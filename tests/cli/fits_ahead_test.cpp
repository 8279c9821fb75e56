// Groups fitted while the module plans: a job takes its group's fit only
// when it would have made the same one itself.
#include <gtest/gtest.h>
#include <refhost/table.h>

#include "fits_ahead.h"
#include "remote_groups.h"

namespace splitrun {
namespace {
using refhost::Cell;

TEST(FitsAhead, AJobTakesOnlyTheFitOfItsOwnRowsAndDataModel) {
    // Three regions of 12, 10 and 14 records, in that order.
    auto table = std::make_shared<refhost::Table>(
        std::vector<refhost::Column>{{"region", 3, 3}, {"price", 2, 1}, {"revenue", 2, 1}});
    const size_t sizes[] = {12, 10, 14};
    for (size_t g = 0; g < 3; ++g)
        for (size_t i = 0; i < sizes[g]; ++i)
            table->addRow({Cell::text("r" + std::to_string(g)), Cell::real(1.0 + i * 0.5),
                           Cell::real(10.0 + (2.0 + g) * i + (i % 3) * 1.5)});
    refhost::DataModelOptions options;
    options.roles = {{"region", "split"}, {"price", "input"}, {"revenue", "target"}};
    const auto dataModel = std::make_shared<const std::string>(refhost::dataModelXml(*table, options));
    splitmodels::ModelSpec request;
    request.target = "revenue", request.inputs = {"price"};
    GroupWorker worker(request);
    const Fingerprinter fingerprinter(request, encodeRemoteSetup(request, {"region"}), {"region"});
    const auto job = [&](size_t index, size_t first, size_t count, std::shared_ptr<const std::string> model) {
        refhost::WorkerJob made;
        made.groupIndex = index;
        made.records = refhost::TableRows(table, first, count);
        made.dataModel = std::move(model);
        return made;
    };

    std::atomic<bool> planned{true};
    FitsAhead late(table, {0}, worker, fingerprinter), ahead(table, {0}, worker, fingerprinter),
        again(table, {0}, worker, fingerprinter);
    late.work(dataModel, planned);
    EXPECT_EQ(late.made(), 0u) << "planning had ended: nothing is fitted ahead";

    planned = false;
    ahead.work(dataModel, planned);
    ASSERT_EQ(ahead.made(), 3u);
    const auto copied = std::make_shared<const std::string>(*dataModel);
    // Not taken: another group's rows, one row short, an equal text that
    // is not the run's shared one. Each try takes the fit out, so group 2's
    // own job then finds nothing.
    EXPECT_FALSE(ahead.take(job(0, 12, 10, dataModel)));
    EXPECT_FALSE(ahead.take(job(1, 12, 9, dataModel)));
    EXPECT_FALSE(ahead.take(job(2, 22, 14, copied)));
    EXPECT_FALSE(ahead.take(job(2, 22, 14, dataModel)));
    EXPECT_EQ(ahead.taken(), 0u);

    again.work(dataModel, planned);
    for (const auto& [index, first, count] : {std::tuple{0, 0, 12}, {1, 12, 10}, {2, 22, 14}}) {
        const refhost::WorkerJob own = job(index, first, count, dataModel);
        std::optional<FitsAhead::Fit> fit = again.take(own);
        ASSERT_TRUE(fit) << index;
        const refhost::WorkerOutput got = worker.keep(index, std::move(fit->fitted)), want = worker(own);
        EXPECT_EQ(std::make_tuple(fit->fingerprint, got.outcome, got.statXml, got.pmml),
                  std::make_tuple(fingerprinter(own), want.outcome, want.statXml, want.pmml)) << index;
        EXPECT_NE(got.pmml.find("model-000" + std::to_string(index + 1)), std::string::npos);
    }
    EXPECT_EQ(again.taken(), 3u);
}

}  // namespace
}  // namespace splitrun
