// The data model section of the combined StatXML document.
#include <functional>

#include "collect_support.h"

using namespace collecttest;

namespace {

class CollectedDataModel : public StartedFixture {
protected:
    // The section for a fresh peer with this input data model (unless null) and these lists.
    uint32_t Build(const char* input, Strings split, Strings target = {}, Strings inputs = {}) {
        Restart();
        if (input != nullptr) {
            Access::inputModel(peer()).dispose();
            Access::inputModel(peer()) = helper.createFromContents(input);
        }
        Access::splitFields(peer()) = std::move(split);
        Access::targets(peer()) = std::move(target);
        Access::inputs(peer()) = std::move(inputs);
        return peer().BuildCollectedDataModel();
    }
    XMLElement Section() { return combined().getElementsDirect("DataModel").next(); }
};

TEST_F(CollectedDataModel, SectionIsTheInputModelWithTheSplitFieldGroupBeforeTheFirstGroup) {
    for (const char* name : {"BuildSettings", "SplitGroup", "SplitGroup"}) combined().addElement(name);
    Access::splitFields(peer()) = {"region", "channel"};
    ASSERT_EQ(peer().BuildCollectedDataModel(), 0u);
    EXPECT_EQ(ChildNames(combined()), "BuildSettings DataModel SplitGroup SplitGroup");
    EXPECT_EQ(Outline(Section()), "DataModel{version=1.0}(" + kFormats + " FieldGroups(FieldGroup{groupType=splitGroup "
              "name=}(FieldName{name=region} FieldName{name=channel})) RecordCounts{total=10} Fields{caseSensitive=true "
              "count=4}(" + kRegionSplit + " " + kChannelSplit + " Field{name=age storage=integer measure=continuous "
              "role=input} Field{name=amount storage=real measure=continuous role=target}))");
    EXPECT_EQ(Outline(Access::inputModel(peer())), Outline(kInputDataModel));  // only read
    // Without a group the section comes last.
    Restart();
    for (const char* name : {"BuildSettings", "Other"}) combined().addElement(name);
    ASSERT_EQ(peer().BuildCollectedDataModel(), 0u);
    EXPECT_EQ(ChildNames(combined()), "BuildSettings Other DataModel");
}

TEST_F(CollectedDataModel, RolesFollowTheListsInputOverTargetOverSplitAndUnknownNamesFail) {
    // Input roles: region none, channel -, age input, amount target. A failure keeps earlier roles.
    const struct { Strings split, target, input; uint32_t status; const char* roles; } rows[] = {
        {{"region"}, {}, {}, 0, "region=split channel=- age=input amount=target"},
        {{"region"}, {"channel"}, {}, 0, "region=split channel=target age=input amount=none"},
        {{"region"}, {}, {"channel"}, 0, "region=split channel=input age=none amount=target"},
        {{"region", "channel"}, {}, {"region"}, 0, "region=input channel=split age=none amount=target"},
        {{"region"}, {"region"}, {}, 0, "region=target channel=- age=input amount=none"},
        {{}, {"age"}, {"amount"}, 0, "region=none channel=- age=target amount=input"},
        {{}, {"amount"}, {"amount"}, 0, "region=none channel=- age=none amount=input"},
        {{"region", "ghost"}, {}, {}, 5, "region=split channel=- age=input amount=target"},
        {{"region"}, {"channel", "Amount"}, {}, 5, "region=split channel=target age=input amount=target"},
        {{}, {"channel"}, {"ghost"}, 5, "region=none channel=target age=input amount=none"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.roles);
        EXPECT_EQ(Build(nullptr, row.split, row.target, row.input), row.status);
        EXPECT_EQ(Roles(Section().getElementsDirect("Fields").next()), row.roles);
    }
}

TEST_F(CollectedDataModel, FieldGroupsArePlacedAndCounted) {
    const struct { const char* input; Strings split; uint32_t status; const char* children; const char* groups; } rows[] = {
        {R"(<DataModel><Fields><Field name="a"/></Fields></DataModel>)", {"a"}, 0, "FieldGroups Fields",
         "FieldGroups(FieldGroup{groupType=splitGroup name=}(FieldName{name=a}))"},
        {R"(<DataModel><Fields/><FieldGroups count="3"><FieldGroup groupType="g"/></FieldGroups></DataModel>)", {}, 0,
         "Fields FieldGroups", "FieldGroups{count=4}(FieldGroup{groupType=g} FieldGroup{groupType=splitGroup name=})"},
        {R"(<DataModel><FieldGroups count="x"/><Fields/></DataModel>)", {}, 0, "FieldGroups Fields",
         "FieldGroups{count=x}(FieldGroup{groupType=splitGroup name=})"},
        {R"(<DataModel><FieldGroups count="1"><FieldGroup groupType="splitGroup" name="old"/></FieldGroups>
            <Fields><Field name="a"/></Fields></DataModel>)", {"a"}, 0, "FieldGroups Fields",
         "FieldGroups{count=1}(FieldGroup{groupType=splitGroup name=old})"},
        {"<DataModel><RecordCounts/></DataModel>", {"a"}, 5, "FieldGroups RecordCounts",  // no fields to mark
         "FieldGroups(FieldGroup{groupType=splitGroup name=}(FieldName{name=a}))"},
        {"<DataModel><Formats/></DataModel>", {"a"}, 5, "Formats FieldGroups",  // nothing to go before: last
         "FieldGroups(FieldGroup{groupType=splitGroup name=}(FieldName{name=a}))"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.input);
        EXPECT_EQ(Build(row.input, row.split), row.status);
        EXPECT_EQ(ChildNames(Section()), row.children);
        EXPECT_EQ(Outline(Section().getElementsDirect("FieldGroups").next()), row.groups);
    }
}

// A listed field is the one the host lookup finds: the first Field at any
// depth below Fields, in document order, that carries the name attribute.
TEST_F(CollectedDataModel, ListedFieldsAreFoundAsTheHostLookupFindsThem) {
    const struct { const char* fields; Strings split; uint32_t status; const char* marked; } rows[] = {
        {R"(<Other><Field name="a" at="nested"/></Other><Field name="a" at="direct"/>)", {"a"}, 0, "nested"},
        {R"(<Field name="b" at="outer"><Field name="a" at="inner"/></Field><Field name="a" at="later"/>)", {"a"}, 0,
         "inner"},
        {R"(<Field name="a" at="first"/><Field name="a" at="second"/>)", {"a"}, 0, "first"},
        {R"(<Other><Field name="a" at="first"/><Field name="a" at="second"/></Other><Field name="z"/>)", {"a"}, 0,
         "first"},
        {R"(<Field at="nameless"/><Field name="" at="empty"/>)", {""}, 0, "empty"},
        {R"(<Field at="nameless"/>)", {""}, 5, ""}, {R"(<Other name="a"/>)", {"a"}, 5, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fields);
        const std::string input = std::string("<DataModel><Fields>") + row.fields + "</Fields></DataModel>";
        EXPECT_EQ(Build(input.c_str(), row.split), row.status);
        XMLElement fields = Section().getElementsDirect("Fields").next();
        // The "at" of every element marked split, in document order.
        const std::function<std::string(const XMLElement&)> marked = [&](const XMLElement& element) {
            std::string at = element.getAttribute("role") == "split" ? element.getAttribute("at") : "";
            for (auto it = element.getElementsDirect(""); it.hasMore();) at += marked(it.next());
            return at;
        };
        EXPECT_EQ(marked(fields), row.marked);
        if (row.status == 0) {
            EXPECT_EQ(fields.getElementByAttribute("Field", "name", row.split[0]).getAttribute("at"), row.marked);
        }
    }
}

}  // namespace
