// The host's message catalogue: readable texts for the module's message
// codes and keys.
#include <map>

#include "refhost/host.h"

namespace refhost {

namespace {

const std::map<int, const char*>& codeTexts() {
    static const std::map<int, const char*> texts = {
        {240001, "The component could not be created: the module offers no component of that name."},
        {240003, "The component could not be destroyed cleanly."},
        {280001, "No split fields are set: the setting 'split_fields' is missing or empty."},
        {280002, "The input has no records to split."},
        {280003, "The host refused to create a worker for the first split group."},
        {280004, "Split field '%1' is not a field of the input data model."},
        {280005, "A split field value could not be read from the input record."},
        {280006, "The host refused to create a record set for a split group."},
        {280007, "The host refused to add a record to a split group's record set."},
        {280008, "The host refused an iterator over a split group's record set."},
        {280009, "The host refused to release a split group's record set."},
        {280010, "Split field '%1' has a storage type that cannot be used to split the data."},
        {280012, "The split model could not take its lock on shared results."},
        {280013, "The split model could not release its lock on shared results."},
        {280014, "No split group produced a model, so no split model was written."},
        {280015, "The data model of the split model could not be built."},
        {280016, "Split field '%1' has an unusable measurement level; it is treated as categorical."},
    };
    return texts;
}

const std::map<std::string, const char*, std::less<>>& keyTexts() {
    static const std::map<std::string, const char*, std::less<>> texts = {
        {"kSPLIT_SplitFailedErr_0", "Building the model for this split group failed."},
    };
    return texts;
}

// Replaces %1 ... %9 by the arguments (an absent argument by nothing).
std::string substitute(const std::string& pattern, const std::vector<std::string>& args) {
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
        if (pattern[i] == '%' && next >= '1' && next <= '9') {
            const size_t index = static_cast<size_t>(next - '1');
            if (index < args.size()) out += args[index];
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

std::string withArguments(std::string text, const std::vector<std::string>& args) {
    for (size_t i = 0; i < args.size(); ++i) text += (i == 0 ? ": " : ", ") + args[i];
    return text;
}

}  // namespace

std::string Host::messageText(int code, const std::vector<std::string>& args) {
    auto it = codeTexts().find(code);
    if (it == codeTexts().end()) return withArguments("Message " + std::to_string(code), args);
    return substitute(it->second, args);
}

std::string Host::messageText(const std::string& key, const std::vector<std::string>& args) {
    auto it = keyTexts().find(key);
    if (it == keyTexts().end()) return withArguments(key, args);
    return substitute(it->second, args);
}

std::string Host::describe(const Message& message) {
    const char* kind = message.type == 3 ? "Error" : message.type == 2 ? "Warning" : "Information";
    return std::string(kind) + " " + std::to_string(message.code) + ": " +
           messageText(message.code, message.args);
}

}  // namespace refhost
