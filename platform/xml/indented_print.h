// The host's serialiser for the documents it hands out: the indented layout
// pugixml's printer writes, written straight into the caller's string.
#ifndef SPLIT_PLATFORM_XML_INDENTED_PRINT_H
#define SPLIT_PLATFORM_XML_INDENTED_PRINT_H

#include <pugixml.hpp>
#include <string>

namespace cfhelper {

// Nodes deeper than this below the document node are not indented: each
// line's indentation grows with its depth, so a deep chain would otherwise
// cost memory quadratic in its depth (a 100,000-deep chain, some 10 GB).
constexpr size_t kIndentedDepth = 64;

// Appends the document's nodes to out byte for byte as pugixml's
// print(writer, "  ", format_indent | format_no_declaration) writes them:
// the same indentation, the same " />" for an empty element, the same
// escapes ("&amp;", "&lt;", "&gt;" in text, "&quot;" and control characters
// as "&#NN;" in attribute values), CDATA split around "]]>". Returns false,
// with out holding a partial text, when some node lies deeper than
// kIndentedDepth or is of a kind the host never builds (a comment, a
// processing instruction, a declaration or a document type): the caller then
// prints the document with pugixml.
//
// It makes one pass into a buffer the thread reuses (a document beyond 64 KiB
// goes on in blocks of fresh pages, and out grows once, to its final size),
// which costs about a third of pugixml's printer behind a writer.
bool appendIndented(pugi::xml_node document, std::string& out);

}  // namespace cfhelper

#endif
