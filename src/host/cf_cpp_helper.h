// Component-services library of the host: XML documents, elements and
// iterators, record access over a host iterator, byte buffers, and the name
// constants of the host's documents.
#ifndef SPLIT_HOST_CF_CPP_HELPER_H
#define SPLIT_HOST_CF_CPP_HELPER_H

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "cf_records.h"

struct CFXML;     // one node of a host XML tree
struct CFXMLDoc;  // the storage of one host XML tree

namespace CfCppHelperV1 {

// Raised by lookups that find nothing and by parsing of malformed text.
class XMLException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class XMLElementIterator;

// A value handle on one element of a host XML tree. Copies share the node;
// an element built from null is empty. A handle is valid until its document
// is disposed. One document must not be used by two threads at once (reads
// included); different documents may.
class XMLElement {
public:
    XMLElement() = default;
    explicit XMLElement(CFXML* node) : node_(node) {}

    bool isEmpty() const { return node_ == nullptr; }
    CFXML* node() const { return node_; }
    std::string getName() const;
    std::string getText() const;
    void setText(const std::string& text);

    XMLElement addElement(const std::string& name);
    // Sets an attribute, replacing a value in place (the attribute keeps its
    // position) or appending a new one.
    void addAttribute(const std::string& name, const std::string& value);
    void addAttribute(const std::string& name, const char* value);
    void addAttribute(const std::string& name, int64_t value);
    // The attribute's text, or the empty text when it is absent.
    std::string getAttribute(const std::string& name) const;
    // True when the attribute is present and reads whole as a decimal integer.
    bool getAttribute(const std::string& name, int64_t& value) const;
    bool hasAttribute(const std::string& name) const;
    // Names of the attributes in document order.
    std::vector<std::string> getAttributeNames() const;
    bool removeAttribute(const std::string& name);

    // Direct child elements of that name in document order; every direct
    // child element when the name is empty.
    XMLElementIterator getElementsDirect(const std::string& name) const;
    // First descendant (document order) named elementName whose attribute
    // equals value; throws XMLException when none matches.
    XMLElement getElementByAttribute(const std::string& elementName,
                                     const std::string& attributeName,
                                     const std::string& value) const;
    XMLElement insertElementBefore(const std::string& name, const XMLElement& ref);
    // Deep copies, also from another document.
    XMLElement copyElement(const XMLElement& source);
    XMLElement copyElementBefore(const XMLElement& source, const XMLElement& ref);
    bool removeElement(const XMLElement& child);
    XMLElement getParent() const;

    // Serialises the whole document the element belongs to.
    void doc2string(std::string& text) const;

    bool operator==(const XMLElement& other) const { return node_ == other.node_; }
    bool operator!=(const XMLElement& other) const { return node_ != other.node_; }

protected:
    CFXML* node_ = nullptr;
};

// The root element of a document. dispose() frees the tree; destroying or
// copying the handle does not.
class XMLDocument : public XMLElement {
public:
    XMLDocument() = default;
    XMLDocument(CFXML* root, CFXMLDoc* doc) : XMLElement(root), doc_(doc) {}
    void dispose();
    CFXMLDoc* storage() const { return doc_; }

private:
    CFXMLDoc* doc_ = nullptr;
};

// Walks the direct child elements of one element that carry one name (every
// child element for an empty name), in document order. It finds each next
// match only when asked, so taking the first match of a long child list
// costs no more than reaching it.
class XMLElementIterator {
public:
    XMLElementIterator() = default;
    XMLElementIterator(CFXML* first, std::string name) : next_(first), name_(std::move(name)) {}
    bool hasMore() const { return next_ != nullptr; }
    XMLElement next();
    // Matches not yet taken.
    size_t count() const;

private:
    CFXML* next_ = nullptr;
    std::string name_;
};

// Documents bound to a host. Documents it creates belong to the caller, who
// frees each with dispose(). Thread-safe: it keeps no state of its own.
class HostHelper {
public:
    // A new helper owned by the caller, or null when there is no host.
    static HostHelper* create(CFHost* host);
    explicit HostHelper(CFHost* host) : host_(host) {}
    CFHost* host() const { return host_; }
    XMLDocument createNew(const std::string& rootName);
    // Parses text; throws XMLException when it is not well-formed. A UTF-16,
    // ISO-8859-1 or windows-1252 text is read in its encoding; a text that
    // declares another encoding keeps its bytes as they are. No external
    // subset is read and no entity beyond the five predefined ones is
    // expanded: a text that declares entities or attribute defaults is
    // refused rather than read without them. Nesting depth costs memory, not
    // stack.
    XMLDocument createFromContents(const std::string& text);
    XMLDocument createFromContents(const char* text);

private:
    CFHost* host_;
};

// Records of a host iterator, which must outlive it. Not thread-safe: it
// moves the iterator.
//
// Each operation is one call of the iterator's word of the same name, with
// the arguments passed through and nothing added, and is defined here so
// that a reader calling it once per record pays no more than the call of
// the word itself. An iterator without the word reads as one whose call
// fails.
class DataHelper {
public:
    // ownsPosition records whether the helper is the iterator's only reader;
    // the helper never releases the iterator, which stays the host's.
    DataHelper(CFIterator* iterator, bool ownsPosition)
        : iterator_(iterator),
          handle_(iterator ? iterator->handle : nullptr),
          getRecordValue_(iterator ? iterator->getRecordValue : nullptr),
          ownsPosition_(ownsPosition) {}
    CFIterator* getIterator() const { return iterator_; }
    bool ownsPosition() const { return ownsPosition_; }
    // True when a record became current; a failed step reads as the end.
    bool nextRecord() {
        if (!iterator_ || !iterator_->nextRecord) return false;
        int more = 0;
        int err = 0;
        return iterator_->nextRecord(iterator_->handle, &more, &err) == CF_OK && more == 1;
    }
    bool rewind() {
        if (!iterator_ || !iterator_->rewind) return false;
        int err = 0;
        return iterator_->rewind(iterator_->handle, &err) == CF_OK;
    }
    // 0 on success; a null value is a missing value. 1 when the iterator
    // has no getRecordValue.
    uint32_t getRecordValue(size_t fieldIndex, void** value, size_t* length, int* err) {
        if (!getRecordValue_) return CF_FAILED;
        return getRecordValue_(handle_, fieldIndex, value, length, err);
    }

private:
    CFIterator* iterator_;
    // The record's words do not change: the one called per value is kept.
    void* handle_;
    cf_status (*getRecordValue_)(void*, size_t, void**, size_t*, int*);
    bool ownsPosition_;
};

// A resizable byte buffer.
class BufferHelper {
public:
    explicit BufferHelper(size_t size) : bytes_(size, '\0') {}
    void resize(size_t size) { bytes_.assign(size, '\0'); }
    operator char*() { return bytes_.data(); }
    size_t size() const { return bytes_.size(); }

private:
    std::vector<char> bytes_;
};

namespace XMLElements {
extern const char* const DataModel;
extern const char* const Execution;
extern const char* const Field;
extern const char* const FieldFormats;
extern const char* const FieldGroup;
extern const char* const FieldGroups;
extern const char* const FieldName;
extern const char* const Fields;
extern const char* const RecordCounts;
extern const char* const Value;
}  // namespace XMLElements

namespace XMLAttributes {
extern const char* const CaseSensitive;
extern const char* const Count;
extern const char* const DisplayLabel;
extern const char* const GroupType;
extern const char* const MaxStringLength;
extern const char* const Measure;
extern const char* const Name;
extern const char* const Role;
extern const char* const Storage;
extern const char* const Type;
extern const char* const Value;
extern const char* const Version;
}  // namespace XMLAttributes

namespace XMLEntities {
extern const char* const Error;
extern const char* const False;
extern const char* const Input;
extern const char* const None;
extern const char* const Split;
extern const char* const SplitGroup;
extern const char* const Target;
extern const char* const True;
}  // namespace XMLEntities

}  // namespace CfCppHelperV1

#endif
