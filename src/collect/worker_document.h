// Parsing of the texts a worker hands back: its task document, its StatXML
// and its PMML. What is parsed here is written back out to the host, so
// besides being well-formed a text must hold only characters an XML
// document may carry, and its elements may nest only so deep: the indented
// serialisation of a document grows with the square of its depth, so a few
// hundred kilobytes nested a hundred thousand deep would come out as
// gigabytes.
#ifndef SPLIT_COLLECT_WORKER_DOCUMENT_H
#define SPLIT_COLLECT_WORKER_DOCUMENT_H

#include <cstddef>
#include <string>
#include <string_view>

#include "cf_cpp_helper.h"

// Deeper than any model document needs (a tree model nests one element per
// level of its tree).
constexpr size_t kMaxWorkerDocumentDepth = 1000;

// True when the text is well-formed UTF-8 and every character is one XML
// allows: tab, line feed, carriage return, U+0020 to U+D7FF, U+E000 to
// U+FFFD and U+10000 to U+10FFFF.
bool HoldsOnlyXmlCharacters(std::string_view text);

// The parsed document. Throws CfCppHelperV1::XMLException when the text does
// not parse, holds a character XML does not allow, or nests elements deeper
// than kMaxWorkerDocumentDepth (the root counts as one).
CfCppHelperV1::XMLDocument ParseWorkerDocument(CfCppHelperV1::HostHelper& helper,
                                               const std::string& text);

#endif
