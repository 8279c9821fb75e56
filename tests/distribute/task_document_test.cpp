// How each split-field value is written into the worker task document.
#include <clocale>
#include <cstdio>

#include "distribute/harness.h"
#include "distribute/value_text.h"

namespace splittest {
namespace {

struct RenderCase { const char* field; int storage; Cell value; std::string text; const char* isNull = "false"; };

// One record whose every column is a split field: its task document carries every case.
void ExpectRendered(const std::vector<RenderCase>& cases) {
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
    ASSERT_EQ(results.size(), 1u);
    ASSERT_EQ(results[0].task.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(results[0].task[i], (TaskField{cases[i].field, cases[i].text, cases[i].isNull}));
}

// Dates, times, timestamps, missing values, the empty text and a text with a
// zero byte are pinned by the fault matrix's clean run of its Keys variant.
TEST(TaskDocument, RendersEveryStorage) {
    ExpectRendered({
        {"negative", 1, Cell::integer(-5), "-5"}, {"smallest", 1, Cell::integer(INT64_MIN), "-9223372036854775808"},
        {"half", 2, Cell::real(2.5), "2.5000000000000000"},
        {"huge", 2, Cell::real(1e20), "100000000000000000000.0000000000000000"},
        {"longText", 3, Cell::text(std::string(100, 'w')), std::string(100, 'w')},
        {"otherStorage", 7, Cell::text("x"), ""},
        {"latin1", 3, Cell::text("M\xFCnchen \x01<&"), "M\xFCnchen \x01<&"},  // bytes as they are, back from the parser
    });
}

// The module cuts a text at its zero byte itself: another host's XML writer
// may keep the bytes after it, where this host's stops.
TEST(TaskDocument, TextEndsAtItsFirstZeroByte) {
    EXPECT_EQ(split::StringText("ab\0cd", 5), "ab");
}

// The text as hosts receive it, byte for byte, with the escapes a host's XML reader has to undo.
TEST(TaskDocument, ExactTextWithEscapedString) {
    const std::string value = std::string("a&b<c>d\"e'f\tg\nh\ri\x01j\x7f") + "\xff" + "k";
    DistributeHarness run(MakeTable({{"k", 3, 3}, {"n", 1, 1}}, {{Cell::text(value), Cell::integer(12)}}),
                          {"k", "n"});
    ASSERT_EQ(run.Begin(), 0u);
    int err = 0;
    std::string second;
    ASSERT_EQ(run.Task(run.worker(0), &err, &second), 0u);
    EXPECT_EQ(second,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<SplitFields>\n"
              "  <SplitField name=\"k\" value=\"a&amp;b&lt;c>d&quot;e'f&#09;g&#10;h&#13;i&#01;j\x7f\xffk\" "
              "isNull=\"false\" />\n"
              "  <SplitField name=\"n\" value=\"12\" isNull=\"false\" />\n"
              "</SplitFields>\n");
    EXPECT_EQ(ParseTask(second), (std::vector<TaskField>{{"k", value, "false"}, {"n", "12", "false"}}));
}

TEST(TaskDocument, DecimalPointUnderCommaLocale) {
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    bool comma = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
        char probe[16] = "";
        if (std::setlocale(LC_NUMERIC, name)) std::snprintf(probe, sizeof probe, "%.1f", 2.5);
        if ((comma = std::string(probe) == "2,5")) break;
    }
    if (comma) ExpectRendered({{"huge", 2, Cell::real(-1e20), "-100000000000000000000.0000000000000000"}});
    std::setlocale(LC_NUMERIC, saved.c_str());
    if (!comma) FAIL() << "no locale with a decimal comma is installed; scripts/install-deps.sh makes de_DE.UTF-8";
}

}  // namespace
}  // namespace splittest
