// Host words the module relies on in a fixed form: chunked container reads,
// the parameter document and the message catalogue.
#include <gtest/gtest.h>

#include "refhost/container.h"
#include "refhost/context.h"
#include "refhost/host.h"

namespace refhost {
namespace {

TEST(Container, ReadsHonourCapacityAndReportEachChunk) {
    const std::pair<size_t, std::vector<size_t>> cases[] = {
        {2 * 1023 + 54, {1023, 1023, 54}},
        {2 * 1023, {1023, 1023, 0}},  // an exact multiple needs one empty read
        {0, {0}},
    };
    for (const auto& [length, sizes] : cases) {
        SCOPED_TRACE(length);
        Container container("InputPMML");
        std::string text;
        while (text.size() < length) text += static_cast<char>('a' + text.size() % 26);
        container.setDefaultEntry(text);
        CFStream* stream = nullptr;
        int err = 0;
        cf_status status = container.record()->openEntry(container.record()->handle, nullptr, CF_MODE_READ, "",
                                                         &stream, &err);
        ASSERT_EQ(0u, status);
        EXPECT_EQ(text, readAll(stream, 1023, &status));
        EXPECT_EQ(sizes, container.readSizes());
        EXPECT_EQ(std::vector<size_t>(sizes.size(), 1023), container.readCapacities());
    }
}

TEST(Context, ParameterDocumentHasOneValuePerSettingValue) {
    Host host;
    Context context(host);
    context.setParameter("split_fields", {"region", "a&b"});
    context.setParameter("other", {});
    context.setParameter("split_fields", {"channel"});  // replaced in place
    EXPECT_EQ("<Parameters><Parameter name=\"split_fields\"><Value value=\"channel\"/></Parameter>"
              "<Parameter name=\"other\"></Parameter></Parameters>",
              context.parametersXml());
}

TEST(Host, CatalogueSubstitutesArguments) {
    EXPECT_EQ("Split field 'region' is not a field of the input data model.",
              Host::messageText(280004, {"region"}));
    EXPECT_EQ("Building the model for this split group failed.",
              Host::messageText("kSPLIT_SplitFailedErr_0"));
    EXPECT_EQ("Message 123: x, y", Host::messageText(123, {"x", "y"}));
    for (int code : {240001, 240003, 280001, 280002, 280003, 280005, 280006, 280007, 280008,
                     280009, 280010, 280012, 280013, 280014, 280015, 280016})
        EXPECT_FALSE(Host::messageText(code).starts_with("Message ")) << code;
    EXPECT_EQ("Warning 280016: Split field 'f' has an unusable measurement level; it is treated "
              "as categorical.",
              Host::describe(Message{2, 280016, {"f"}}));
}

}  // namespace
}  // namespace refhost
