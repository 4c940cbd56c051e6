#pragma once
// Code page 1250 (the Polish code page): texts of the source are UTF-8 and are converted once to
// the bytes that go on the wire and into the log; the log is shown as UTF-8.
#include "core/ByteString.h"

namespace Znaki {

// UTF-8 to code page 1250; a character the code page lacks becomes '?'.
ByteString ToCp1250(std::string_view utf8);

// Code page 1250 to UTF-8; the five unassigned bytes become U+FFFD.
std::string FromCp1250(ByteView cp1250);
void AppendFromCp1250(std::string& out, ByteView cp1250);

}  // namespace Znaki
