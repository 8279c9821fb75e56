// Serialisation of the document an element belongs to.
#include "cf_cpp_helper.h"
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

}  // namespace

void XMLElement::doc2string(std::string& text) const {
    text.clear();
    if (!node_) return;
    // The declaration is written by hand so that it names the encoding;
    // parsed declarations are never kept in the tree, so there is no second
    // one. Attribute values are escaped by pugixml (&<>" and control
    // characters as character references), so they read back unchanged.
    text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    StringWriter writer(text);
    cfhelper::toNode(node_).root().print(writer, "  ", pugi::format_indent | pugi::format_no_declaration,
                                         pugi::encoding_utf8);
}

}  // namespace CfCppHelperV1
