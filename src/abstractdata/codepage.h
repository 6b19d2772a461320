// Text stored in files is 8-bit text of the Windows-1252 code page (the files come from a
// German Windows program); what we print or show is UTF-8.
#pragma once

#include <string>
#include <string_view>

// Every byte decodes to one code point. The five bytes that Windows-1252 leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 control code points of the same value, as the
// system's own conversion does, so that no byte is lost. Throws std::bad_alloc only.
std::string Windows1252ToUtf8(std::string_view strText);
