// Shared pieces of the fuzz targets: a byte reader, text splitting, the shared
// module and host, a small input, and checks that abort on a broken contract.
#ifndef SPLIT_TESTS_FUZZ_SUPPORT_H
#define SPLIT_TESTS_FUZZ_SUPPORT_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cf_cpp_helper.h"
#include "refhost/component.h"
#include "refhost/context.h"
#include "refhost/host.h"
#include "refhost/module.h"
#include "refhost/table.h"

namespace fuzzsupport {

// A broken contract is a finding: abort so libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

// Reads choices from the fuzz input; past its end reads yield zero or "".
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    size_t remaining() const { return empty() ? 0 : size_ - pos_; }

    uint8_t byte() { return empty() ? 0 : data_[pos_++]; }
    bool flag() { return (byte() & 1) != 0; }
    // A number in [0, bound) from as many bytes as the bound needs.
    uint64_t below(uint64_t bound) {
        if (bound <= 1) return 0;
        uint64_t value = 0;
        for (uint64_t range = bound - 1; range != 0; range >>= 8) value = (value << 8) | byte();
        return value % bound;
    }
    uint64_t word() {
        uint64_t value = 0;
        for (int i = 0; i < 8; ++i) value = (value << 8) | byte();
        return value;
    }
    // A length byte and that many bytes (fewer at the end of the input).
    std::string text(size_t maxLength) {
        const size_t length = below(maxLength + 1);
        const size_t take = length < remaining() ? length : remaining();
        std::string out(reinterpret_cast<const char*>(data_ + pos_), take);
        pos_ += take;
        return out;
    }
    std::string rest() {
        std::string out(reinterpret_cast<const char*>(data_ + pos_), remaining());
        pos_ = size_;
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// The input cut at each separator byte into exactly count texts: the last
// keeps the rest, separators included; missing texts are empty.
inline std::vector<std::string> SplitTexts(std::string_view input, char separator, size_t count) {
    std::vector<std::string> texts;
    while (texts.size() + 1 < count) {
        const size_t at = input.find(separator);
        if (at == std::string_view::npos) break;
        texts.emplace_back(input.substr(0, at));
        input.remove_prefix(at + 1);
    }
    texts.emplace_back(input);
    texts.resize(count);
    return texts;
}

// The module, loaded once with the host; both live for the whole process.
inline refhost::Host& SharedHost() {
    static refhost::Host* host = new refhost::Host();
    return *host;
}
inline refhost::Module& SharedModule() {
    static refhost::Module* module = [] {
        auto* loaded = new refhost::Module();
        FUZZ_CHECK(loaded->initialise(SharedHost()) == 0);
        return loaded;
    }();
    return *module;
}

// Five records in three runs of region; age is an input, amount the target.
inline refhost::Table SmallInput() {
    using refhost::Cell;
    refhost::Table table({{"region", 3, 3}, {"channel", 3, 2}, {"age", 1, 1}, {"amount", 2, 1}});
    const char* const regions[] = {"north", "north", "south", "west", "west"};
    for (int i = 0; i < 5; ++i)
        table.addRow({Cell::text(regions[i]), Cell::text(i % 2 ? "web" : "shop"),
                      i == 1 ? Cell::missing() : Cell::integer(30 + i), Cell::real(1.5 * i)});
    return table;
}
inline std::string SmallDataModel() {
    refhost::DataModelOptions options;
    options.roles = {{"age", "input"}, {"amount", "target"}};
    return refhost::dataModelXml(SmallInput(), options);
}

// A component of the shared module on the context; creation must succeed.
inline std::unique_ptr<refhost::Component> CreateComponent(refhost::Context& context, const char* name) {
    cf_status status = 0;
    int err = 0;
    std::unique_ptr<refhost::Component> component =
        refhost::Component::create(SharedModule(), context, name, &status, &err);
    FUZZ_CHECK(component != nullptr);
    return component;
}

// A document the module wrote that does not parse is a finding.
inline CfCppHelperV1::XMLDocument ParseOrAbort(const std::string& text, const char* what) {
    try {
        return CfCppHelperV1::HostHelper(SharedHost().record()).createFromContents(text);
    } catch (const CfCppHelperV1::XMLException& e) {
        std::fprintf(stderr, "%s does not parse: %s\n", what, e.what());
        std::abort();
    }
}

// A component's message document must be given out whole and parse.
inline void CheckMessages(const refhost::EntryPoints& api, void* handle) {
    size_t needed = 0;
    int err = 0;
    api.cf_component_getMessages(handle, nullptr, 0, &needed, &err);
    std::string buffer(needed, '\0');
    FUZZ_CHECK(api.cf_component_getMessages(handle, buffer.data(), buffer.size(), &needed, &err) == 0);
    std::vector<refhost::Message> messages;
    FUZZ_CHECK(refhost::parseMessages(buffer.c_str(), &messages));
}

}  // namespace fuzzsupport

#endif
