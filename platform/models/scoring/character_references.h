// Numeric character references that name no character XML allows.
#pragma once

#include <string>
#include <string_view>

namespace splitmodels::detail {

// The first numeric character reference in the markup text that names a
// character XML does not allow (U+0000, a surrogate, U+FFFE, U+FFFF, past
// U+10FFFF), as written ("&#0;"); empty when there is none. The parser
// would turn such a reference into bytes: U+0000 into a zero byte that cuts
// the value, the others into text no record holds. References to the other
// control characters are read, as XML 1.1 reads them. Comments, CDATA sections
// and processing instructions are skipped, since references there are
// plain text.
std::string illegalCharacterReference(std::string_view text);

// The first '&' in the markup text that begins neither a character
// reference nor one of the five entities XML defines (&amp; &lt; &gt;
// &quot; &apos;), as written ("&k;"); empty when there is none. A document
// without entity declarations that refers to another entity is not XML,
// and the parser would keep the reference as text, which a record holding
// that text would then match. Comments, CDATA sections and processing
// instructions are skipped.
std::string undeclaredEntityReference(std::string_view text);

}  // namespace splitmodels::detail
