// The split values the run summary reads from each group's task document,
// whether the text is printed as the distributor prints it or otherwise.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "task_document.h"

namespace splitrun {
namespace {

std::string printed(const std::string& fields)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SplitFields>\n" + fields + "</SplitFields>\n";
}

std::string line(const std::string& name, const std::string& value, const char* isNull = "false")
{
    return "  <SplitField name=\"" + name + "\" value=\"" + value + "\" isNull=\"" + isNull + "\" />\n";
}

TEST(TaskDocument, ReadsEachSplitFieldWhateverTheLayout)
{
    struct Case { const char* name; std::string text; const char* expected; };  // field=value, ';'-joined
    const std::vector<Case> cases = {
        {"printed", printed(line("grp", "g1") + line("part", "", "true")), "grp=g1;part=<missing>"},
        {"printed, '>' and UTF-8 kept", printed(line("k", "a>b \xc3\xa9")), "k=a>b \xc3\xa9"},
        {"escapes expanded", printed(line("k", "a&amp;b&lt;&quot;&#9;")), "k=a&b<\"\t"},
        {"an isNull other than true is present", printed(line("k", "v", "maybe")), "k=v"},
        {"attributes in another order", printed("  <SplitField value=\"v\" isNull=\"true\" name=\"k\" />\n"),
         "k=<missing>"},
        {"cut short", printed(line("k", "v")).substr(0, 60), ""},
    };
    for (const Case& c : cases) {
        std::string got;
        for (const TaskSplitValue& v : parseTaskDocument(c.text))
            got += (got.empty() ? "" : ";") + v.field + "=" + (v.missing ? "<missing>" : v.value);
        EXPECT_EQ(got, c.expected) << c.name;
    }
}

}  // namespace
}  // namespace splitrun
