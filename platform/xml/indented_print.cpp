// A loop over the tree in document order (no recursion), following the
// state pugixml's printer keeps between nodes: whether the next line needs a
// line feed and indentation, which a text child turns off. The bytes go into
// a buffer the thread reuses, then into blocks of fresh pages, and are
// appended to the caller's string at the end.
#include "indented_print.h"

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <vector>

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
    explicit Sink(std::string& out) : out_(out) {
        std::string& buffer = scratch();
        if (buffer.size() < kScratchBytes) buffer.resize(kScratchBytes);
        at_ = buffer.data();
        end_ = at_ + kScratchBytes;
    }
    ~Sink() {
        for (const Block& block : blocks_) ::munmap(block.bytes, kBlockBytes);
    }
    Sink(const Sink&) = delete;
    Sink& operator=(const Sink&) = delete;

    [[gnu::always_inline]] void put(char c) {
        if (at_ == end_) next();
        *at_++ = c;
    }
    [[gnu::always_inline]] void put(const char* bytes, size_t length) {
        if (static_cast<size_t>(end_ - at_) < length) return putAcross(bytes, length);
        std::memcpy(at_, bytes, length);
        at_ += length;
    }
    [[gnu::always_inline]] void put(const char* text) { put(text, std::strlen(text)); }
    void spaces(size_t count) {
        while (count > 0) {
            if (at_ == end_) next();
            const size_t now = std::min(count, static_cast<size_t>(end_ - at_));
            std::memset(at_, ' ', now);
            at_ += now;
            count -= now;
        }
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

    // Appends what was written to the caller's string, reserved once at its
    // final size; each block is unmapped as soon as it is copied.
    void finish() {
        const char* const scratchBytes = scratch().data();
        if (blocks_.empty()) {
            out_.append(scratchBytes, static_cast<size_t>(at_ - scratchBytes));
            return;
        }
        blocks_.back().used = static_cast<size_t>(at_ - blocks_.back().bytes);
        size_t total = out_.size() + kScratchBytes;
        for (const Block& block : blocks_) total += block.used;
        out_.reserve(total);
        out_.append(scratchBytes, kScratchBytes);
        for (const Block& block : blocks_) {
            out_.append(block.bytes, block.used);
            ::munmap(block.bytes, kBlockBytes);
        }
        blocks_.clear();
    }

private:
    // A document is written into a buffer each thread keeps from call to
    // call and then appended to the caller's string: growing a string
    // zero-fills its new room, which cost more than the copy. Past the
    // buffer, a document goes on in blocks of fresh pages, which hold only
    // what was written. A string doubled as it grew would hold a large
    // document three times over at its last doubling (its old storage and
    // the new one, zero-filled): for the collect component's combined
    // document of 100,000 groups, about 40 MB of text, 100 MB at the run's
    // peak, against 40 MB and a block here.
    static constexpr size_t kScratchBytes = size_t{1} << 16;
    static constexpr size_t kBlockBytes = size_t{1} << 20;
    static std::string& scratch() {
        thread_local std::string buffer;
        return buffer;
    }

    struct Block {
        char* bytes;
        size_t used;
    };

    void putAcross(const char* bytes, size_t length) {
        while (length > 0) {
            if (at_ == end_) next();
            const size_t now = std::min(length, static_cast<size_t>(end_ - at_));
            std::memcpy(at_, bytes, now);
            at_ += now;
            bytes += now;
            length -= now;
        }
    }
    // Called with the current buffer or block full.
    void next() {
        void* mapped = ::mmap(nullptr, kBlockBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) throw std::bad_alloc();
        if (!blocks_.empty()) blocks_.back().used = kBlockBytes;
        try {
            blocks_.push_back({static_cast<char*>(mapped), 0});
        } catch (...) {
            ::munmap(mapped, kBlockBytes);
            throw;
        }
        at_ = static_cast<char*>(mapped);
        end_ = at_ + kBlockBytes;
    }

    std::string& out_;
    char* at_;   // where the next byte goes, in the scratch buffer or the last block
    char* end_;
    std::vector<Block> blocks_;
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

// Writes the document's nodes in order; false at a node too deep to indent
// or of a kind the host never builds.
bool printTree(Sink& sink, pugi::xml_node document) {
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

}  // namespace

bool appendIndented(pugi::xml_node document, std::string& out) {
    Sink sink(out);
    const bool whole = printTree(sink, document);
    sink.finish();
    return whole;
}

}  // namespace cfhelper
