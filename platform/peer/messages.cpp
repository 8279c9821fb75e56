// Messages recorded for the host and their delivery as a message document:
//   <Messages><Message type="3" code="280004"><Argument value="x"/></Message></Messages>
#include "host_text.h"
#include "qor_peer.h"

namespace QorCF_940 {

namespace {

std::string messageDocument(const std::vector<CollectedMessage>& messages) {
    // A helper without a host is enough to build a document.
    CfCppHelperV1::HostHelper helper(nullptr);
    CfCppHelperV1::XMLDocument document = helper.createNew("Messages");
    for (const CollectedMessage& message : messages) {
        CfCppHelperV1::XMLElement element = document.addElement("Message");
        element.addAttribute("type", static_cast<int64_t>(message.type));
        element.addAttribute("code", static_cast<int64_t>(message.code));
        for (const std::string& argument : message.args)
            element.addElement("Argument").addAttribute("value", argument);
    }
    std::string text;
    document.doc2string(text);
    document.dispose();
    return text;
}

}  // namespace

uint32_t QorPeer::CollectMsgs(MsgType type, int code, int* err) {
    return CollectMsgs(type, code, std::vector<std::string>(), err);
}

uint32_t QorPeer::CollectMsgs(MsgType type, int code, const std::vector<std::string>& args,
                              int* /*err*/) {
    std::lock_guard<std::mutex> guard(messagesMutex_);
    messages_.push_back(CollectedMessage{type, code, args});
    return CF_OK;
}

std::vector<CollectedMessage> QorPeer::CollectedMessages() const {
    std::lock_guard<std::mutex> guard(messagesMutex_);
    return messages_;
}

// The messages stay until they have been delivered: a caller whose buffer is
// too small asks again with a larger one and gets the same messages.
uint32_t QorPeer::GetErrorDetail(char* buffer, size_t size, size_t* needed, int* /*err*/) {
    std::lock_guard<std::mutex> guard(messagesMutex_);
    uint32_t status = qorpeer::WriteCallerText(messageDocument(messages_), buffer, size, needed);
    if (status == CF_OK) messages_.clear();
    return status;
}

}  // namespace QorCF_940
