// The properties text of an output container entry and the texts that go
// into it.
#ifndef SPLIT_COLLECT_ENTRY_PROPERTIES_H
#define SPLIT_COLLECT_ENTRY_PROPERTIES_H

#include <string>

inline constexpr const char* kStatXMLMimeType = "application/vnd.qantor.stat+xml";
inline constexpr const char* kStatXMLTypeId = "SPLITstatxml.xml";
inline constexpr const char* kPMMLMimeType = "application/vnd.qantor.pmml+xml";
inline constexpr const char* kPMMLTypeId = "SPLITpmml.xml";

// "mimeType=<mime type>\ntypeId=<type id>", without a final line feed.
std::string MakeEntryProperties(const std::string& mimeType, const std::string& typeId);

#endif
