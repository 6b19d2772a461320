// Result codes of every operation that can fail. The values are those stored and compared
// by callers, so they are fixed.
#pragma once

#include <cstdint>
#include <span>

using HRESULT = int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT MORV_E_CHUNKCLOSED = static_cast<HRESULT>(0x80044010u);
constexpr HRESULT MORV_E_BADFORMAT = static_cast<HRESULT>(0x80044011u);
// A file without a scene header: too short for a container header, or a container of
// another kind.
constexpr HRESULT MORV_E_NOTASCENE = static_cast<HRESULT>(0x80044012u);

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

// The operating-system error codes that the platform layer produces.
constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
constexpr uint32_t ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr uint32_t ERROR_ACCESS_DENIED = 5;
constexpr uint32_t ERROR_INVALID_HANDLE = 6;
constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr uint32_t ERROR_WRITE_PROTECT = 19;
constexpr uint32_t ERROR_GEN_FAILURE = 31;
constexpr uint32_t ERROR_SHARING_VIOLATION = 32;
constexpr uint32_t ERROR_FILE_EXISTS = 80;
constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_NEGATIVE_SEEK = 131;
constexpr uint32_t ERROR_DISK_FULL = 112;
constexpr uint32_t ERROR_FILENAME_EXCED_RANGE = 206;
constexpr uint32_t ERROR_FILE_TOO_LARGE = 223;
constexpr uint32_t ERROR_DIRECTORY_NOT_SUPPORTED = 336;
constexpr uint32_t ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

// 0 stays S_OK; any other code becomes 0x8007xxxx with its low 16 bits.
constexpr HRESULT HRESULT_FROM_WIN32(uint32_t dwError) {
    return dwError == 0 ? S_OK : static_cast<HRESULT>((dwError & 0xFFFFu) | 0x80070000u);
}

// Words for a code in messages to the user: English for the command line, German (UTF-8) for
// the desktop program.
struct ResultText {
    HRESULT hr;
    const char* pszEnglish;
    const char* pszGerman;
};

// Every code this system produces, each once.
std::span<const ResultText> ResultTexts();

// The English words ("unknown error" for codes this system never produces).
const char* HResultMessage(HRESULT hr);
// The German words ("unbekannter Fehler" for codes this system never produces).
const char* HResultMessageGerman(HRESULT hr);
