// The data model section of the combined StatXML document.
#include "collect_support.h"

using namespace collecttest;
using CfCppHelperV1::XMLDocument;
using CfCppHelperV1::XMLElement;

namespace {

class CollectedDataModel : public PeerFixture {
protected:
    void SetUp() override {
        PeerFixture::SetUp();
        Start();
    }
    void Lists(std::vector<std::string> split, std::vector<std::string> target,
               std::vector<std::string> input) {
        Access::splitFieldNames(peer()) = std::move(split);
        Access::targetFieldList(peer()) = std::move(target);
        Access::inputFieldList(peer()) = std::move(input);
    }
    void ReplaceInputDataModel(const std::string& text) {
        XMLDocument& model = Access::inputDataModel(peer());
        model.dispose();
        model = helper.createFromContents(text);
    }
    XMLDocument& combined() { return Access::combined(peer()); }
    XMLElement Section() { return combined().getElementsDirect("DataModel").next(); }
    // "name=role" for every field of the section, "-" for no role.
    std::string Roles() {
        std::string roles;
        auto fields = Section().getElementsDirect("Fields").next().getElementsDirect("Field");
        while (fields.hasMore()) {
            XMLElement field = fields.next();
            roles += (roles.empty() ? "" : " ") + field.getAttribute("name") + "=" +
                     (field.hasAttribute("role") ? field.getAttribute("role") : "-");
        }
        return roles;
    }
    std::string ChildNames(const XMLElement& element) {
        std::string names;
        auto children = element.getElementsDirect("");
        while (children.hasMore()) names += (names.empty() ? "" : " ") + children.next().getName();
        return names;
    }
};

TEST_F(CollectedDataModel, SectionIsTheInputModelWithTheSplitFieldGroupBeforeTheFirstGroup) {
    combined().addElement("BuildSettings");
    combined().addElement("SplitGroup").addAttribute("n", "1");
    combined().addElement("SplitGroup").addAttribute("n", "2");
    Lists({"region", "channel"}, {}, {});
    ASSERT_EQ(peer().BuildCollectedDataModel(), 0u);
    EXPECT_EQ(ChildNames(combined()), "BuildSettings DataModel SplitGroup SplitGroup");
    EXPECT_TRUE(SameTree(Section(), R"(<DataModel version="1.0">
      <FieldFormats><Format field="amount" decimals="2"/></FieldFormats>
      <FieldGroups><FieldGroup groupType="splitGroup" name="">
        <FieldName name="region"/><FieldName name="channel"/></FieldGroup></FieldGroups>
      <RecordCounts total="10"/>
      <Fields caseSensitive="true" count="4">
        <Field name="region" storage="string" measure="nominal" role="split" maxStringLength="5" displayLabel="Region">
          <Value value="north"/><Value value="south"/></Field>
        <Field name="channel" storage="string" measure="flag" maxStringLength="3" role="split"/>
        <Field name="age" storage="integer" measure="continuous" role="input"/>
        <Field name="amount" storage="real" measure="continuous" role="target"/>
      </Fields></DataModel>)"));
    // The input data model itself is only read.
    EXPECT_FALSE(Access::inputDataModel(peer()).getElementsDirect("FieldGroups").hasMore());
}

TEST_F(CollectedDataModel, RolesFollowTheListsInputOverTargetOverSplit) {
    // The input data model says: region none, channel no role, age input,
    // amount target.
    struct Row {
        std::vector<std::string> split, target, input;
        const char* roles;
    };
    const Row rows[] = {
        {{"region"}, {}, {}, "region=split channel=- age=input amount=target"},
        {{"region"}, {"channel"}, {}, "region=split channel=target age=input amount=none"},
        {{"region"}, {}, {"channel"}, "region=split channel=input age=none amount=target"},
        {{"region", "channel"}, {}, {"region"}, "region=input channel=split age=none amount=target"},
        {{"region"}, {"region"}, {}, "region=target channel=- age=input amount=none"},
        {{}, {"age"}, {"amount"}, "region=none channel=- age=target amount=input"},
        {{}, {"amount"}, {"amount"}, "region=none channel=- age=none amount=input"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.roles);
        PeerFixture::TearDown();
        PeerFixture::SetUp();
        Start();
        Lists(row.split, row.target, row.input);
        ASSERT_EQ(peer().BuildCollectedDataModel(), 0u);
        EXPECT_EQ(Roles(), row.roles);
    }
}

TEST_F(CollectedDataModel, FieldGroupsArePlacedAndCounted) {
    struct Row {
        const char* name;
        const char* input;
        std::vector<std::string> split;
        const char* children;  // of the section afterwards
        const char* groups;    // the FieldGroups element afterwards
    };
    const Row rows[] = {
        {"before Fields without RecordCounts", R"(<DataModel><Fields><Field name="a"/></Fields></DataModel>)",
         {"a"}, "FieldGroups Fields",
         R"(<FieldGroups><FieldGroup groupType="splitGroup" name=""><FieldName name="a"/></FieldGroup></FieldGroups>)"},
        {"count read as an integer grows", R"(<DataModel><Fields><Field name="a"/></Fields>
           <FieldGroups count="3"><FieldGroup groupType="g"/></FieldGroups></DataModel>)",
         {"a"}, "Fields FieldGroups",
         R"(<FieldGroups count="4"><FieldGroup groupType="g"/><FieldGroup groupType="splitGroup" name="">
           <FieldName name="a"/></FieldGroup></FieldGroups>)"},
        {"count that is no integer stays", R"(<DataModel><FieldGroups count="x"/><Fields><Field name="a"/></Fields></DataModel>)",
         {}, "FieldGroups Fields",
         R"(<FieldGroups count="x"><FieldGroup groupType="splitGroup" name=""/></FieldGroups>)"},
        {"existing split group kept", R"(<DataModel><FieldGroups count="1"><FieldGroup groupType="splitGroup" name="old">
           <FieldName name="b"/></FieldGroup></FieldGroups><Fields><Field name="a"/><Field name="b"/></Fields></DataModel>)",
         {"a"}, "FieldGroups Fields",
         R"(<FieldGroups count="1"><FieldGroup groupType="splitGroup" name="old"><FieldName name="b"/></FieldGroup></FieldGroups>)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PeerFixture::TearDown();
        PeerFixture::SetUp();
        Start();
        ReplaceInputDataModel(row.input);
        Lists(row.split, {}, {});
        ASSERT_EQ(peer().BuildCollectedDataModel(), 0u);
        EXPECT_EQ(ChildNames(Section()), row.children);
        EXPECT_TRUE(SameTree(Section().getElementsDirect("FieldGroups").next(), row.groups));
    }
}

TEST_F(CollectedDataModel, MissingElementsFailWithFiveKeepingEarlierWork) {
    struct Row {
        const char* name;
        const char* input;  // null: the test's input data model
        std::vector<std::string> split, target, input_;
        const char* roles;  // null: no Fields to look at
    };
    const Row rows[] = {
        {"no Fields", "<DataModel><RecordCounts/></DataModel>", {"a"}, {}, {}, nullptr},
        {"unknown split field", nullptr, {"region", "ghost"}, {}, {}, "region=split channel=- age=input amount=target"},
        {"target names differ in case", nullptr, {"region"}, {"channel", "Amount"}, {},
         "region=split channel=target age=input amount=target"},
        {"unknown input field", nullptr, {}, {"channel"}, {"ghost"}, "region=none channel=target age=input amount=none"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PeerFixture::TearDown();
        PeerFixture::SetUp();
        Start();
        if (row.input != nullptr) ReplaceInputDataModel(row.input);
        Lists(row.split, row.target, row.input_);
        EXPECT_EQ(peer().BuildCollectedDataModel(), 5u);
        // Steps before the failure have changed the combined document.
        ASSERT_TRUE(combined().getElementsDirect("DataModel").hasMore());
        EXPECT_TRUE(Section().getElementsDirect("FieldGroups").hasMore());
        if (row.roles != nullptr) {
            EXPECT_EQ(Roles(), row.roles);
        }
    }
}

}  // namespace
