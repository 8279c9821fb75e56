// Documents: creation, parsing and disposal.
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <stdexcept>

#include "cf_cpp_helper.h"
#include "markup_guard.h"
#include "plain_markup.h"
#include "node_access.h"
#include "text_encoding.h"

namespace CfCppHelperV1 {

using cfhelper::toHandle;
using cfhelper::toStorage;

namespace {

// Whitespace-only text between elements is dropped (no parse_ws_pcdata);
// comments, processing instructions and the declaration are not kept.
constexpr unsigned kParseOptions = pugi::parse_cdata | pugi::parse_escapes |
                                   pugi::parse_wconv_attribute | pugi::parse_eol;

// The options for a plain text: as a fragment (see below), and without the
// passes that would find nothing to do in it. A plain text holds no '&', so
// no reference to expand; a text without a carriage return has no line end
// to normalise. Both passes then leave every value as the text has it, so
// the tree is the same.
unsigned plainOptions(std::string_view text) {
    unsigned options = kParseOptions | pugi::parse_fragment;
    options &= ~static_cast<unsigned>(pugi::parse_escapes);
    if (std::memchr(text.data(), '\r', text.size()) == nullptr)
        options &= ~static_cast<unsigned>(pugi::parse_eol);
    return options;
}

// The single root element of a parsed document, or none when the document
// holds no element, several elements or character data outside the root.
pugi::xml_node singleRoot(const pugi::xml_document& document) {
    pugi::xml_node root;
    for (pugi::xml_node child : document.children()) {
        if (child.type() != pugi::node_element || root) return pugi::xml_node();
        root = child;
    }
    return root;
}

// Parses a text, screened first (a plain one after the parse), into a
// document with a single root.
// The text is copied once, into the parser's own buffer; only a text in
// another encoding is converted to UTF-8 first.
XMLDocument parsed(std::string_view original) {
    std::optional<std::string> converted;
    try {
        converted = cfhelper::convertedToUtf8(original);
    } catch (const std::runtime_error& error) {
        throw XMLException(std::string("XML text refused: ") + error.what());
    }
    const std::string_view text = converted ? std::string_view(*converted) : original;
    // A plain text is parsed as a fragment, so that character data outside
    // the root element stays in the tree, where the check after the parse
    // finds it.
    const bool plain = cfhelper::isPlainMarkup(text);
    if (!plain) {
        const std::string refused = cfhelper::screenMarkup(text);
        if (!refused.empty()) throw XMLException("XML text refused: " + refused);
    }
    auto document = std::make_unique<pugi::xml_document>();
    pugi::xml_parse_result result =
        document->load_buffer(text.data(), text.size(), plain ? plainOptions(text) : kParseOptions,
                              pugi::encoding_utf8);
    if (!result)
        throw XMLException(std::string("XML text does not parse: ") + result.description() +
                           " at offset " + std::to_string(result.offset));
    if (plain) {
        const std::string refused = cfhelper::screenPlainTree(*document);
        if (!refused.empty()) throw XMLException("XML text refused: " + refused);
    }
    pugi::xml_node root = singleRoot(*document);
    if (!root) throw XMLException("XML text does not have exactly one root element");
    return XMLDocument(toHandle(root), toStorage(document.release()));
}

}  // namespace

void XMLDocument::dispose() {
    delete cfhelper::toDocument(doc_);
    doc_ = nullptr;
    node_ = nullptr;
}

HostHelper* HostHelper::create(CFHost* host) {
    return host ? new HostHelper(host) : nullptr;
}

XMLDocument HostHelper::createNew(const std::string& rootName) {
    auto document = std::make_unique<pugi::xml_document>();
    pugi::xml_node root = document->append_child(rootName.c_str());
    return XMLDocument(toHandle(root), toStorage(document.release()));
}

XMLDocument HostHelper::createFromContents(const std::string& original) {
    return parsed(original);
}

XMLDocument HostHelper::createFromContents(const char* text) {
    if (!text) throw XMLException("XML text is null");
    return parsed(text);
}

}  // namespace CfCppHelperV1
