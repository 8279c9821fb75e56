// End to end: how records are brought into groups — missing versus empty
// split values, a record dropped from its group's fit for a missing target,
// and --presorted on grouped and ungrouped input.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <tuple>

#include "cli_harness.h"

using namespace clitest;

namespace {

// Three groups of six records: region missing, region "", region North,
// each with its own line y = a + b x (plus a small wiggle so the fit is not
// exact); North's last y is missing. Rows are interleaved by group unless
// `grouped`.
std::string threeGroupCsv(bool grouped)
{
    const char* regions[] = {"", "\"\"", "North"};
    std::string text = "region,x,y\n";
    for (int outer = 0; outer < (grouped ? 3 : 6); ++outer)
        for (int inner = 0; inner < (grouped ? 6 : 3); ++inner) {
            const int g = grouped ? outer : inner;
            const int i = grouped ? inner : outer;
            const double y = 10.0 * g + (g + 1) * i + (i % 2 ? 0.01 : -0.01);
            text += std::string(regions[g]) + "," + std::to_string(i) + "," +
                    (g == 2 && i == 5 ? "" : std::to_string(y)) + "\n";
        }
    return text;
}

// Builds with a data model whose fields come in another order than the header.
RunOutput build(const fs::path& dir, const char* csv, const char* out, std::vector<std::string> extra = {})
{
    extra.insert(extra.begin(), {"--split", "region", "--target", "y", "--data-model", (dir / "model.xml").string(),
                                 "--threads", "2"});
    return runBuild(dir / csv, dir / out, extra);
}

TEST(Grouping, MissingAndEmptyAreDistinctGroupsAndPresortedRefusesUngroupedInput)
{
    const fs::path dir = freshDir("presorted");
    writeFile(dir / "grouped.csv", threeGroupCsv(true));
    writeFile(dir / "mixed.csv", threeGroupCsv(false));
    fs::copy_file(SPLIT_SOURCE_ROOT "/tests/cli/three_fields_model.xml", dir / "model.xml");

    const RunOutput sorted = build(dir, "mixed.csv", "sorted");
    const RunOutput presorted = build(dir, "grouped.csv", "presorted", {"--presorted"});
    ASSERT_EQ(sorted.status, 0) << sorted.out << sorted.err;
    ASSERT_EQ(presorted.status, 0) << presorted.err;
    EXPECT_NE(sorted.out.find("3 groups, 3 models, 0 failed"), std::string::npos) << sorted.out;
    EXPECT_NE(sorted.out.find("storages from --data-model"), std::string::npos) << sorted.out;
    // Grouped input in sort order gives what sorting interleaved input gives, and so does each file read
    // pass by pass under --memory-limit, its storages from the data model rather than a profile.
    EXPECT_TRUE(treeContents(dir / "sorted") == treeContents(dir / "presorted"));
    for (const auto& [csv, out, presort] : {std::tuple{"mixed.csv", "sorted-streamed", false},
                                            std::tuple{"grouped.csv", "presorted-streamed", true}}) {
        std::vector<std::string> extra = {"--memory-limit", "1K", "--temp-dir", dir.string()};
        if (presort) extra.push_back("--presorted");
        const RunOutput streamed = build(dir, csv, out, extra);
        ASSERT_EQ(streamed.status, 0) << streamed.err;
        EXPECT_TRUE(treeContents(dir / out) == treeContents(dir / "sorted")) << out;
    }
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file((exportedFiles(dir / "sorted") / "StatXML" / "rootStatXML.xml").c_str()));
    std::vector<std::string> seen;   // value/isNull/records fitted of each group, in group order
    for (pugi::xml_node group : doc.document_element().children("SplitGroup")) {
        const pugi::xml_node field = group.child("SplitField");
        seen.push_back(std::string(field.attribute("value").value()) + "/" + field.attribute("isNull").value() + "/" +
                       group.find_node([](pugi::xml_node n) { return bool(n.attribute("recordCount")); })
                           .attribute("recordCount").value());
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"/true/6", "/false/6", "North/false/5"}));

    const RunOutput refused = build(dir, "mixed.csv", "refused", {"--presorted"});
    EXPECT_EQ(refused.status, 2);
    for (const char* part : {"region=<missing>", "first appears at line 2", "reappears at line 5",
                             "drop --presorted"})
        EXPECT_NE(refused.err.find(part), std::string::npos) << part << "\n" << refused.err;
}

}  // namespace
