// Ordering records by split key, and entry file names (the --presorted check
// is run end to end).
#include <cmath>

#include <gtest/gtest.h>

#include "group_order.h"
#include "output_dir.h"

using namespace splitrun;
using refhost::Cell;

namespace {

TEST(GroupOrder, SortsStablyMissingFirstNumbersNumericallyStringsBytewise)
{
    refhost::Table table({{"region", 3, 3}, {"size", 2, 1}});
    const std::vector<std::pair<Cell, Cell>> keys = {
        {Cell::text("b"), Cell::real(10)}, {Cell::text("B"), Cell::real(2)},
        {Cell(), Cell::real(1)},           {Cell::text("b"), Cell::real(9)},
        {Cell::text(""), Cell::real(1)},   {Cell::text("b"), Cell::real(10)},
        {Cell::text("\xC3\xA9"), Cell()},  {Cell::text("b"), Cell()},
    };
    for (const auto& [region, size] : keys) table.addRow({region, size});
    const std::vector<std::size_t> order = sortedByKey(table, {0, 1});
    // missing < "" < "B" < "b" < "\xC3\xA9"; within "b": missing < 9 < 10, and
    // the two rows with key (b, 10) keep their file order (0 before 5).
    EXPECT_EQ(order, (std::vector<std::size_t>{2, 4, 1, 7, 3, 0, 5, 6}));
}

// A key's text in messages: dates as dates, and reals beyond any date (or
// not finite) as numbers, without casting them out of range.
TEST(GroupOrder, KeyTextsOfDatesAndOfRealsBeyondThem)
{
    const int date = static_cast<int>(splitrun::Storage::Date);
    const std::vector<std::pair<Cell, std::string>> cases = {
        {Cell::real(19782), "2024-02-29"}, {Cell::real(1e300), Cell::real(1e300).toString()},
        {Cell::real(-1e19), Cell::real(-1e19).toString()}, {Cell::real(INFINITY), Cell::real(INFINITY).toString()},
    };
    for (const auto& [cell, text] : cases) EXPECT_EQ(splitrun::cellText(cell, date), text);
}

TEST(OutputDir, EntryFileNamesAreSafeAndDistinct)
{
    EXPECT_EQ(entryFileName("model-0001"), "model-0001.xml");
    EXPECT_EQ(entryFileName("a/b c%"), "a%2Fb%20c%25.xml");
    EXPECT_EQ(entryFileName(".."), "%2E..xml");
    EXPECT_EQ(entryFileName("K\xC3\xB6ln"), "K%C3%B6ln.xml");
    EXPECT_EQ(propertyValue("mimeType=application/x\ntypeId=T.xml", "typeId"), "T.xml");
    EXPECT_EQ(propertyValue("mimeType=application/x\ntypeId=T.xml", "mimeType"), "application/x");
    EXPECT_EQ(propertyValue("", "typeId"), "");
}

}  // namespace
