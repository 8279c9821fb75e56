// Disposes a document private to one operation when the operation ends,
// however it ends.
#ifndef SPLIT_COLLECT_SCOPED_DOCUMENT_H
#define SPLIT_COLLECT_SCOPED_DOCUMENT_H

#include "cf_cpp_helper.h"

class ScopedDocument {
public:
    ScopedDocument() = default;
    ~ScopedDocument() {
        if (!document.isEmpty()) document.dispose();
    }
    ScopedDocument(const ScopedDocument&) = delete;
    ScopedDocument& operator=(const ScopedDocument&) = delete;

    CfCppHelperV1::XMLDocument document;
};

#endif
