// The worker task document: how each split-field value is written.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "distribute/harness.h"

namespace splittest {
namespace {

using refhost::Cell;

struct RenderCase {
    const char* field;
    int storage;
    Cell value;
    std::string text;
    const char* isNull;
};

const std::string k1e300 =
    "1000000000000000052504760255204420248704468581108159154915854115511802457988908195786371375"
    "0804478640437044438328838781769425232353604305756447921847867069828483872009265758037378302"
    "3379478809005936895323497079994508111903896764088007465274278014249457925878882005684283811"
    "5669472196386865459400540160.0000000000000000";

const std::vector<RenderCase>& RenderCases() {
    static const std::vector<RenderCase> cases = {
        {"negative", 1, Cell::integer(-5), "-5", "false"},
        {"zero", 1, Cell::integer(0), "0", "false"},
        {"smallest", 1, Cell::integer(INT64_MIN), "-9223372036854775808", "false"},
        {"half", 2, Cell::real(2.5), "2.5000000000000000", "false"},
        {"negativeReal", 2, Cell::real(-0.125), "-0.1250000000000000", "false"},
        {"huge", 2, Cell::real(1e20), "100000000000000000000.0000000000000000", "false"},
        {"enormous", 2, Cell::real(1e300), k1e300, "false"},
        {"day", 4, Cell::real(100), "100.0000000000000000", "false"},
        {"clock", 5, Cell::real(3600.5), "3600.5000000000000000", "false"},
        {"moment", 6, Cell::real(86400), "86400.0000000000000000", "false"},
        {"missingText", 3, Cell::missing(), "", "true"},
        {"missingReal", 2, Cell::missing(), "", "true"},
        {"emptyText", 3, Cell::text(""), "", "false"},
        {"longText", 3, Cell::text(std::string(100, 'w')), std::string(100, 'w'), "false"},
        {"zeroInText", 3, Cell::text(std::string("ab\0cd", 5)), "ab", "false"},
        {"markup", 3, Cell::text("a<b & \"c\""), "a<b & \"c\"", "false"},
    };
    return cases;
}

// One record holding every case, every column a split field: the single
// task document then carries every rendering.
std::vector<TaskField> RenderAll(const std::vector<RenderCase>& cases) {
    std::vector<refhost::Column> columns;
    std::vector<Cell> row;
    std::vector<std::string> names;
    for (const RenderCase& c : cases) {
        columns.push_back({c.field, c.storage, c.storage == 3 ? 3 : 1});
        row.push_back(c.value);
        names.push_back(c.field);
    }
    DistributeHarness run(MakeTable(columns, {row}), names);
    std::vector<WorkerResult> results = run.RunOnce();
    if (results.size() != 1) {
        ADD_FAILURE() << "expected one group, got " << results.size();
        return {};
    }
    return results[0].task;
}

TEST(TaskDocument, RendersEveryStorage) {
    const std::vector<RenderCase>& cases = RenderCases();
    std::vector<TaskField> task = RenderAll(cases);
    ASSERT_EQ(task.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(task[i], (TaskField{cases[i].field, cases[i].text, cases[i].isNull}))
            << cases[i].field;
    }
}

// Restores the numeric locale of the process when the test ends.
class NumericLocale {
public:
    NumericLocale() : saved_(std::setlocale(LC_NUMERIC, nullptr)) {}
    ~NumericLocale() { std::setlocale(LC_NUMERIC, saved_.c_str()); }

private:
    std::string saved_;
};

TEST(TaskDocument, DecimalPointUnderCommaLocale) {
    NumericLocale restore;
    bool comma = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE"}) {
        if (std::setlocale(LC_NUMERIC, name) == nullptr) continue;
        char probe[16];
        std::snprintf(probe, sizeof probe, "%.1f", 2.5);
        if (std::string(probe) == "2,5") {
            comma = true;
            break;
        }
    }
    if (!comma) GTEST_SKIP() << "no locale with a decimal comma is installed";

    std::vector<TaskField> task = RenderAll({
        {"half", 2, Cell::real(2.5), "2.5000000000000000", "false"},
        {"huge", 2, Cell::real(-1e20), "-100000000000000000000.0000000000000000", "false"},
    });
    ASSERT_EQ(task.size(), 2u);
    EXPECT_EQ(task[0].value, "2.5000000000000000");
    EXPECT_EQ(task[1].value, "-100000000000000000000.0000000000000000");
}

}  // namespace
}  // namespace splittest
