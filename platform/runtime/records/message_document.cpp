// Parsing the message document a component delivers.
#include <pugixml.hpp>

#include "refhost/component.h"

namespace refhost {

bool parseMessages(const std::string& text, std::vector<Message>* messages) {
    pugi::xml_document document;
    if (!document.load_buffer(text.data(), text.size())) return false;
    pugi::xml_node root = document.document_element();
    if (std::string(root.name()) != "Messages") return false;
    std::vector<Message> parsed;
    for (pugi::xml_node node : root.children("Message")) {
        Message message;
        message.type = node.attribute("type").as_int();
        message.code = node.attribute("code").as_int();
        for (pugi::xml_node argument : node.children("Argument"))
            message.args.emplace_back(argument.attribute("value").value());
        parsed.push_back(std::move(message));
    }
    *messages = std::move(parsed);
    return true;
}

}  // namespace refhost
