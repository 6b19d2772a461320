// The string type of all code, its counted form in files and streams, string resources,
// case mapping and the text form of a GUID.
//
// Counted form: a length prefix, then the bytes as held (no terminator, no conversion):
//   n < 255: one byte n;  n < 65534: 0xFF, u16 n;  otherwise 0xFF, u16 0xFFFF, u32 n.
// Strings handed back are zero-terminated text: they end at their first zero byte.
#pragma once

#include <cstdint>
#include <cstdio>
#include <istream>
#include <ostream>
#include <string>

#include "abstractdata/guid.h"
#include "abstractdata/hresult.h"

using tstring = std::string;

class CInStream;
class COutStream;

// Reads one counted string. E_FAIL when the source ends early or the prefix is malformed;
// the output is unchanged after any failure.
HRESULT ReadTString(tstring& str, FILE* pFile);
HRESULT ReadTString(tstring& str, std::istream& in);
HRESULT ReadTString(tstring& str, CInStream* pStream);

// Writes one counted string in the shortest form. E_FAIL when the sink takes fewer bytes.
HRESULT WriteTString(const tstring& str, FILE* pFile);
HRESULT WriteTString(const tstring& str, std::ostream& out);
HRESULT WriteTString(const tstring& str, COutStream* pStream);

// A text of the program's string table (see stringtable.h).
HRESULT LoadTString(tstring& str, uint32_t dwId);

// Byte-wise, with the C locale's mapping of A-Z and a-z.
HRESULT TStringToLower(tstring& str);
HRESULT TStringToUpper(tstring& str);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hexadecimal digits.
HRESULT GuidToTString(tstring& str, const GUID& guid);
