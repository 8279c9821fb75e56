// A loop over the tree in document order (no recursion), following the
// state pugixml's printer keeps between nodes: whether the next line needs a
// line feed and indentation, which a text child turns off. The bytes go into
// a buffer the thread reuses, grown by doubling, and are appended at the end.
#include "indented_print.h"

#include <array>
#include <cstring>

namespace cfhelper {

namespace {

// Which bytes a value cannot be written as, one table for text and one for
// attribute values. The zero byte ends a value, so it stops both scans.
struct Escapes {
    std::array<bool, 256> inText{};
    std::array<bool, 256> inAttribute{};
};

constexpr Escapes kEscapes = [] {
    Escapes escapes;
    for (int c = 0; c < 32; ++c) escapes.inText[c] = escapes.inAttribute[c] = true;
    // Line feeds, carriage returns and tabs stay as they are in text; in an
    // attribute value they are written as references, so that they read
    // back as themselves rather than as spaces.
    escapes.inText['\t'] = escapes.inText['\n'] = escapes.inText['\r'] = false;
    for (unsigned char c : {'&', '<'}) escapes.inText[c] = escapes.inAttribute[c] = true;
    escapes.inText['>'] = true;
    escapes.inAttribute['"'] = escapes.inAttribute['\''] = true;
    return escapes;
}();

// What the next element or end tag needs before it.
enum : unsigned { kNewline = 1, kIndent = 2 };

class Sink {
public:
    explicit Sink(std::string& out) : out_(out), buffer_(&scratch()) {
        if (buffer_->size() < kFirstBytes) buffer_->resize(kFirstBytes);
    }
    ~Sink() {
        if (buffer_ == &out_)
            out_.resize(at_);
        else
            out_.append(buffer_->data(), at_);
    }
    Sink(const Sink&) = delete;
    Sink& operator=(const Sink&) = delete;

    [[gnu::always_inline]] void put(char c) {
        room(1);
        (*buffer_)[at_++] = c;
    }
    [[gnu::always_inline]] void put(const char* bytes, size_t length) {
        room(length);
        std::memcpy(buffer_->data() + at_, bytes, length);
        at_ += length;
    }
    [[gnu::always_inline]] void put(const char* text) { put(text, std::strlen(text)); }
    void spaces(size_t count) {
        room(count);
        std::memset(buffer_->data() + at_, ' ', count);
        at_ += count;
    }

    // The value with the bytes the table marks written as references. Most
    // values need none: one scan, one copy.
    void escaped(const char* value, const std::array<bool, 256>& escape) {
        for (;;) {
            const char* run = value;
            while (!escape[static_cast<unsigned char>(*value)]) ++value;
            put(run, static_cast<size_t>(value - run));
            const auto c = static_cast<unsigned char>(*value++);
            switch (c) {
                case 0: return;
                case '&': put("&amp;", 5); break;
                case '<': put("&lt;", 4); break;
                case '>': put("&gt;", 4); break;
                case '"': put("&quot;", 6); break;
                case '\'': put('\''); break;
                default: {
                    const char reference[5] = {'&', '#', static_cast<char>('0' + c / 10),
                                               static_cast<char>('0' + c % 10), ';'};
                    put(reference, 5);
                }
            }
        }
    }

private:
    // A document is written into a buffer each thread keeps from call to
    // call and then appended to the caller's string: growing a string
    // zero-fills its new room, which cost more than the copy. A document
    // larger than the buffer may grow is written in the caller's string
    // itself from then on, so that it is never held twice.
    static constexpr size_t kFirstBytes = 4096;
    static constexpr size_t kScratchBytes = size_t{1} << 16;
    static std::string& scratch() {
        thread_local std::string buffer;
        return buffer;
    }

    [[gnu::always_inline]] void room(size_t length) {
        if (at_ + length > buffer_->size()) grow(length);
    }
    void grow(size_t length) {
        if (buffer_ != &out_ && at_ + length > kScratchBytes) {
            out_.append(buffer_->data(), at_);
            at_ = out_.size();
            buffer_ = &out_;
        }
        const size_t doubled = 2 * buffer_->size();
        buffer_->resize(doubled > at_ + length ? doubled : at_ + length);
    }

    std::string& out_;
    std::string* buffer_;  // the thread's buffer, or out_ for a large document
    size_t at_ = 0;        // bytes written into *buffer_ (for out_: its whole text)
};

// An unnamed node or attribute prints as pugixml prints it.
const char* nameOf(const char* name) { return *name ? name : ":anonymous"; }

void putCdata(Sink& sink, const char* value) {
    // "]]>" cannot stand inside a section: the section ends after "]]" and
    // the '>' opens the next.
    do {
        sink.put("<![CDATA[", 9);
        const char* from = value;
        while (*value && !(value[0] == ']' && value[1] == ']' && value[2] == '>')) ++value;
        if (*value) value += 2;
        sink.put(from, static_cast<size_t>(value - from));
        sink.put("]]>", 3);
    } while (*value);
}

// The start tag with its attributes; true when the element has children,
// false when it was written as an empty element tag.
bool putStart(Sink& sink, pugi::xml_node element) {
    sink.put('<');
    sink.put(nameOf(element.name()));
    for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute()) {
        sink.put(' ');
        sink.put(nameOf(a.name()));
        sink.put("=\"", 2);
        sink.escaped(a.value(), kEscapes.inAttribute);
        sink.put('"');
    }
    if (!element.first_child()) {
        sink.put(" />", 3);
        return false;
    }
    sink.put('>');
    return true;
}

}  // namespace

bool appendIndented(pugi::xml_node document, std::string& out) {
    Sink sink(out);
    unsigned layout = kIndent;
    size_t depth = 0;  // of the node's children, the root element's being 1
    pugi::xml_node node = document;
    do {
        const pugi::xml_node_type type = node.type();
        if (type == pugi::node_pcdata) {
            sink.escaped(node.value(), kEscapes.inText);
            layout = 0;
        } else if (type == pugi::node_cdata) {
            putCdata(sink, node.value());
            layout = 0;
        } else {
            if (layout & kNewline) sink.put('\n');
            if (layout & kIndent) sink.spaces(2 * depth);
            if (type == pugi::node_element) {
                layout = kNewline | kIndent;
                if (putStart(sink, node)) {
                    node = node.first_child();
                    // Its children lie depth + 2 below the document node.
                    if (++depth + 1 > kIndentedDepth) return false;
                    continue;
                }
            } else if (type == pugi::node_document) {
                layout = kIndent;
                if (pugi::xml_node child = node.first_child()) {
                    node = child;
                    continue;
                }
            } else {
                return false;
            }
        }
        // On to the next node, closing the elements left on the way up.
        while (node != document) {
            if (pugi::xml_node next = node.next_sibling()) {
                node = next;
                break;
            }
            node = node.parent();
            if (node.type() == pugi::node_element) {
                --depth;
                if (layout & kNewline) sink.put('\n');
                if (layout & kIndent) sink.spaces(2 * depth);
                sink.put("</", 2);
                sink.put(nameOf(node.name()));
                sink.put('>');
                layout = kNewline | kIndent;
            }
        }
    } while (node != document);
    if (layout & kNewline) sink.put('\n');
    return true;
}

}  // namespace cfhelper
