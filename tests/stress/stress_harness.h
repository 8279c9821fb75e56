// A host that runs both components on many threads at once: an input of many
// small split groups, a distribute and a collect component on their own
// contexts, and the pieces each worker thread uses to serve one group and
// hand it in.
#ifndef SPLIT_TESTS_STRESS_HARNESS_H
#define SPLIT_TESTS_STRESS_HARNESS_H

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cf_cpp_helper.h"
#include "refhost/component.h"
#include "refhost/context.h"
#include "refhost/host.h"
#include "refhost/module.h"
#include "refhost/table.h"

namespace stresstest {

using refhost::Cell;
using Strings = std::vector<std::string>;

// The group numbered g has 1 + g % 3 records; its "tag" is missing when
// g % 11 == 0, else "t" followed by g % 7. Groups with g % 50 == 49 fail in
// their worker.
inline size_t RecordsOf(size_t g) { return 1 + g % 3; }
inline bool TagMissing(size_t g) { return g % 11 == 0; }
inline std::string TagOf(size_t g) { return TagMissing(g) ? "" : "t" + std::to_string(g % 7); }
inline bool WorkerFails(size_t g) { return g % 50 == 49; }

// Split fields g (integer) and tag (string), then seq (the record's position
// in the input), x (input) and y (target).
inline refhost::Table GroupedInput(size_t groups) {
    refhost::Table table({{"g", 1, 3}, {"tag", 3, 3}, {"seq", 1, 1}, {"x", 2, 1}, {"y", 2, 1}});
    int64_t seq = 0;
    for (size_t g = 0; g < groups; ++g) {
        const Cell tag = TagMissing(g) ? Cell::missing() : Cell::text(TagOf(g));
        for (size_t r = 0; r < RecordsOf(g); ++r, ++seq)
            table.addRow({Cell::integer(static_cast<int64_t>(g)), tag, Cell::integer(seq),
                          Cell::real(0.5 * static_cast<double>(seq)), Cell::real(static_cast<double>(r))});
    }
    return table;
}

// Categories are left out: with one per group the data model would grow with
// the group count, and so would every group's annotated StatXML.
inline std::string InputDataModel(const refhost::Table& table) {
    refhost::DataModelOptions options;
    options.categories = false;
    options.roles = {{"x", "input"}, {"y", "target"}};
    return refhost::dataModelXml(table, options);
}

// What a worker made of its group: a StatXML naming model m<g> and a PMML
// regression model r<g>.
inline std::string WorkerStatXML(const std::string& g, size_t records) {
    return "<StatXML version=\"1.0\"><BuildSettings algorithm=\"linear\"/>"
           "<PMMLModel modelID=\"m" + g + "\" segmentID=\"s" + g + "\" modelType=\"RegressionModel\" "
           "isActive=\"true\"><PredictiveSummary name=\"records\" value=\"" + std::to_string(records) +
           "\"/></PMMLModel></StatXML>";
}
inline std::string WorkerPMML(const std::string& g) {
    return "<PMML version=\"4.4\"><Header/><DataDictionary numberOfFields=\"2\">"
           "<DataField name=\"x\" optype=\"continuous\" dataType=\"double\"/>"
           "<DataField name=\"y\" optype=\"continuous\" dataType=\"double\"/></DataDictionary>"
           "<RegressionModel modelName=\"r" + g + "\" functionName=\"regression\"/></PMML>";
}

// The split values an element lists, "g=<value> tag=<value or null>": the
// SplitField children of a SplitGroup, or the DataField children of a
// split-info extension (whose missing values have no Value child).
inline std::string SplitValues(const CfCppHelperV1::XMLElement& parent) {
    std::string text;
    for (auto it = parent.getElementsDirect(""); it.hasMore();) {
        const CfCppHelperV1::XMLElement field = it.next();
        std::string value = "null";
        if (field.getName() == "SplitField") {
            if (field.getAttribute("isNull") != "true") value = field.getAttribute("value");
        } else if (field.getName() == "DataField") {
            auto values = field.getElementsDirect("Value");
            if (values.hasMore()) value = values.next().getAttribute("value");
        } else {
            continue;
        }
        text += (text.empty() ? "" : " ") + field.getAttribute("name") + "=" + value;
    }
    return text;
}
inline std::string ExpectedValues(size_t g) {
    return "g=" + std::to_string(g) + " tag=" + (TagMissing(g) ? "null" : TagOf(g));
}

// Calls into the components go through here. A component whose context
// offers no thread services has no lock of its own, so the host makes its
// calls one at a time.
// It also notes the most calls that were in the components at once.
class HostGate {
public:
    explicit HostGate(bool serialise) : serialise_(serialise) {}
    template <class Call>
    auto operator()(Call&& call) {
        std::unique_lock<std::mutex> guard(mutex_, std::defer_lock);
        if (serialise_) guard.lock();
        const size_t now = ++inside_;
        for (size_t most = most_; now > most && !most_.compare_exchange_weak(most, now);) {
        }
        auto status = call();
        --inside_;
        return status;
    }
    size_t mostAtOnce() const { return most_; }

private:
    bool serialise_;
    std::mutex mutex_;
    std::atomic<size_t> inside_{0};
    std::atomic<size_t> most_{0};
};

// The module, the host and both components, created once.
struct StressHost {
    StressHost(const refhost::Table& table, bool threadServices) : input(table) {
        dataModel = InputDataModel(input);
        distribute.setInput(input);
        distribute.setDataModel(dataModel);
        distribute.setParameter("split_fields", {"g", "tag"});
        collect.setDataModel(dataModel);
        collect.setParameter("TargetFieldList", {"y"});
        collect.setParameter("InputFieldList", {"x"});
        distribute.setThreadServices(threadServices);
        collect.setThreadServices(threadServices);
        EXPECT_EQ(module.initialise(host), 0u);
        distributor = std::make_unique<refhost::Component>(module, distribute, "split_distribute");
        collector = std::make_unique<refhost::Component>(module, collect, "split_collect");
    }

    refhost::Table input;
    std::string dataModel;
    refhost::Host host;
    refhost::Module module{SPLIT_MODULE_PATH};
    refhost::Context distribute{host};
    refhost::Context collect{host};
    std::unique_ptr<refhost::Component> distributor;
    std::unique_ptr<refhost::Component> collector;
};

}  // namespace stresstest

#endif
