// Text stored in files is 8-bit text of the Windows-1252 code page (the files come from a
// German Windows program); what we print or show is UTF-8. The one table of the page, both ways.
#pragma once

#include <string>
#include <string_view>

// Every byte decodes to one code point. The five bytes that Windows-1252 leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 control code points of the same value, as the
// system's own conversion does, so that no byte is lost. Throws std::bad_alloc only.
std::string Windows1252ToUtf8(std::string_view strText);

// The inverse, for names typed or read as UTF-8 that are matched against or stored as names of
// a file ("€" is 0x80, "Š" 0x8A): a code point the page lacks becomes '_'; a byte that starts no
// well-formed sequence is taken as a Windows-1252 byte already (older formats store names that
// way). Throws std::bad_alloc only.
std::string Utf8ToWindows1252(std::string_view strUtf8);
