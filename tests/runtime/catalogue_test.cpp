// Every message code the module can raise has a text in the host's catalogue, which split-run prints.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "refhost/host.h"

namespace {

// The six-digit codes of the module's messages (240xxx, 280xxx) written in its sources.
std::set<int> codesInSources() {
    std::set<int> codes;
    const std::regex code(R"(\b2[48]0\d{3}\b)");
    for (const auto& entry : std::filesystem::recursive_directory_iterator(SPLIT_SOURCE_ROOT "/src")) {
        if (!entry.is_regular_file()) continue;
        std::ifstream file(entry.path());
        std::stringstream text;
        text << file.rdbuf();
        const std::string source = text.str();
        for (std::sregex_iterator it(source.begin(), source.end(), code), end; it != end; ++it)
            codes.insert(std::stoi(it->str()));
    }
    return codes;
}

TEST(MessageCatalogue, EveryCodeTheModuleRaisesHasAText) {
    const std::set<int> codes = codesInSources();
    ASSERT_GE(codes.size(), 15u);
    for (int code : codes)
        EXPECT_NE(refhost::Host::messageText(code).rfind("Message ", 0), 0u) << code << " has no catalogue text";
    EXPECT_EQ(refhost::Host::messageText(280004, {"region"}),
              "Split field 'region' is not a field of the input data model.");
}

}  // namespace
