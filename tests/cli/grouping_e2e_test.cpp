// End to end: how records are brought into groups — missing versus empty
// split values, and --presorted on grouped and ungrouped input.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "cli_harness.h"

using namespace clitest;

namespace {

// Three groups of six records: region missing, region "", region North,
// each with its own line y = a + b x (plus a small wiggle so the fit is not
// exact). Rows are interleaved by group unless `grouped`.
std::string threeGroupCsv(bool grouped)
{
    const char* regions[] = {"", "\"\"", "North"};
    std::string text = "region,x,y\n";
    for (int outer = 0; outer < (grouped ? 3 : 6); ++outer)
        for (int inner = 0; inner < (grouped ? 6 : 3); ++inner) {
            const int g = grouped ? outer : inner;
            const int i = grouped ? inner : outer;
            const double y = 10.0 * g + (g + 1) * i + (i % 2 ? 0.01 : -0.01);
            text += std::string(regions[g]) + "," + std::to_string(i) + "," + std::to_string(y) + "\n";
        }
    return text;
}

RunOutput build(const fs::path& csv, const fs::path& out, std::vector<std::string> extra = {})
{
    std::vector<std::string> args = {"build", "--data", csv.string(), "--split", "region",
                                     "--target", "y", "--threads", "2", "--out", out.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return runSplitRun(args);
}

TEST(Grouping, MissingAndEmptyStringAreDistinctGroups)
{
    const fs::path dir = freshDir("missing-vs-empty");
    writeFile(dir / "data.csv", threeGroupCsv(false));
    writeFile(dir / "model.xml",
              "<DataModel version=\"1.0\"><Fields caseSensitive=\"true\" count=\"3\">"
              "<Field name=\"y\" storage=\"real\" measure=\"continuous\"/>"
              "<Field name=\"region\" storage=\"string\" measure=\"nominal\"/>"
              "<Field name=\"x\" storage=\"real\" measure=\"continuous\"/>"
              "</Fields></DataModel>");
    // Also with a data model whose fields come in another order than the header.
    for (const char* model : {"", "model.xml"}) {
        SCOPED_TRACE(model);
        const fs::path out = dir / (std::string("out") + model);
        const RunOutput run = build(dir / "data.csv", out, *model ? std::vector<std::string>{"--data-model",
                                    (dir / model).string()} : std::vector<std::string>{});
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_NE(run.out.find("3 groups, 3 models, 0 failed"), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("storages from --data-model") != std::string::npos, *model != 0) << run.out;
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_file((out / "StatXML" / "rootStatXML.xml").c_str()));
        std::vector<std::string> seen;   // value/isNull of each group, in group order
        for (pugi::xml_node group : doc.document_element().children("SplitGroup")) {
            const pugi::xml_node field = group.child("SplitField");
            seen.push_back(std::string(field.attribute("value").value()) + "/" + field.attribute("isNull").value());
        }
        EXPECT_EQ(seen, (std::vector<std::string>{"/true", "/false", "North/false"}));
    }
}

TEST(Grouping, PresortedKeepsGroupedInputAndRefusesUngroupedInput)
{
    const fs::path dir = freshDir("presorted");
    writeFile(dir / "grouped.csv", threeGroupCsv(true));
    writeFile(dir / "mixed.csv", threeGroupCsv(false));

    const RunOutput sorted = build(dir / "grouped.csv", dir / "sorted");
    const RunOutput presorted = build(dir / "grouped.csv", dir / "presorted", {"--presorted"});
    ASSERT_EQ(sorted.status, 0) << sorted.err;
    ASSERT_EQ(presorted.status, 0) << presorted.err;
    // Already in sort order, so sorting changes nothing.
    EXPECT_TRUE(treeContents(dir / "sorted") == treeContents(dir / "presorted"));

    const RunOutput refused = build(dir / "mixed.csv", dir / "refused", {"--presorted"});
    EXPECT_EQ(refused.status, 2);
    for (const char* part : {"region=<missing>", "first appears at line 2", "reappears at line 5",
                             "drop --presorted"})
        EXPECT_NE(refused.err.find(part), std::string::npos) << part << "\n" << refused.err;
}

}  // namespace
