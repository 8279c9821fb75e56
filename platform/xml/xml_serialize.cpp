// Serialisation of the document an element belongs to.
#include "cf_cpp_helper.h"
#include "indented_print.h"
#include "node_access.h"

namespace CfCppHelperV1 {

namespace {

class StringWriter : public pugi::xml_writer {
public:
    explicit StringWriter(std::string& out) : out_(out) {}
    void write(const void* data, size_t size) override {
        out_.append(static_cast<const char*>(data), size);
    }

private:
    std::string& out_;
};

// True when some node lies deeper than limit below top. The walk is a loop,
// not a recursion, so a deep document cannot exhaust the stack.
bool deeperThan(pugi::xml_node top, size_t limit) {
    size_t depth = 0;
    pugi::xml_node current = top.first_child();
    if (current) depth = 1;
    while (current && current != top) {
        if (depth > limit) return true;
        if (current.first_child()) {
            current = current.first_child();
            ++depth;
            continue;
        }
        while (current != top && !current.next_sibling()) {
            current = current.parent();
            --depth;
        }
        if (current != top) current = current.next_sibling();
    }
    return false;
}

}  // namespace

void XMLElement::doc2string(std::string& text) const {
    text.clear();
    if (!node_) return;
    // The declaration is written by hand so that it names the encoding;
    // parsed declarations are never kept in the tree, so there is no second
    // one. Attribute values are escaped by pugixml (&<>" and control
    // characters as character references), so they read back unchanged.
    static constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    text = kDeclaration;
    pugi::xml_node document = cfhelper::toNode(node_).root();
    if (cfhelper::appendIndented(document, text)) return;
    // A deep document, or one holding a node kind the host's own printer
    // does not write: pugixml prints it, deep ones without indentation.
    text.resize(sizeof kDeclaration - 1);
    StringWriter writer(text);
    const unsigned layout =
        deeperThan(document, cfhelper::kIndentedDepth) ? pugi::format_raw : pugi::format_indent;
    document.print(writer, "  ", layout | pugi::format_no_declaration, pugi::encoding_utf8);
}

}  // namespace CfCppHelperV1
