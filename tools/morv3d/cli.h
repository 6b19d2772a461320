// Shared pieces of the morv3d command-line tool.
#pragma once

#include <CLI/CLI.hpp>
#include <charconv>
#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "abstractdata/hresult.h"

class CMorv3dViewerDoc;

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitIncomplete = 1;  // the file could not be read or loaded completely
constexpr int kExitUsage = 2;

// The tool's parser: one subcommand per verb. A verb binds its arguments to state that its run
// function shares. Our own messages replace CLI11's, and a bad option value is reported only
// after --help had its chance, as users expect of `VERB ... --help`.
class CCli {
public:
    CCli();
    // pszArgsError: the message for a wrong number of positional arguments.
    CLI::App* AddVerb(const char* pszName, const char* pszSummary, const char* pszArgsError,
                      std::function<int()> fnRun);
    // An option whose value fnTake converts; a missing or bad value is a usage error that says
    // strUsage. The last of repeated values counts.
    CLI::Option* AddValue(CLI::App* pVerb, const char* pszName, const char* pszType,
                          const char* pszHelp, std::string strUsage,
                          std::function<bool(const std::string&)> fnTake);
    // Parses, reports a usage error or runs the chosen verb; the exit code.
    int Run(int argc, char** argv);

private:
    struct Verb {
        CLI::App* pApp;
        const char* pszArgsError;
        std::function<int()> fnRun;
    };
    int RunVerb(const Verb& verb);

    CLI::App m_app;
    std::vector<Verb> m_verbs;
    std::string m_strBadValue;    // the first option value that did not convert
    std::string m_strCompletion;  // the shell of the hidden --completion, which the build asks
    bool m_bTrace = false;
};

void AddChunks(CCli& cli);
void AddInfo(CCli& cli);  // info and validate
void AddTree(CCli& cli);
void AddPicture(CCli& cli);  // render and pick
void AddImport(CCli& cli);
void AddExport(CCli& cli);

// Prints "morv3d: <message>" to stderr; returns kExitUsage.
int UsageError(const std::string& strMessage);
// Prints "morv3d: <path>: <what>: 0x%08X (<meaning>)" to stderr.
void PrintFailure(const std::string& strPath, const std::string& strWhat, HRESULT hr);
// The document of the verb this process runs. It is never taken apart: the process ends after
// the verb and the system takes back its memory at once, where deleting a large scene object by
// object costs a sixth of `morv3d info`. It stays reachable, so leak checkers pass it.
CMorv3dViewerDoc& DocumentOfThisRun();
// PrintFailure for each pass of the document's last open that failed.
void PrintPassFailures(const std::string& strPath, const CMorv3dViewerDoc& doc);
// "0x%08X".
std::string HexCode(uint32_t dwValue);
// One line with ", " and ": " between items, as the tool has always printed JSON; floats with
// six significant digits. Strings that are not UTF-8 get U+FFFD for the bad bytes.
std::string JsonLine(const nlohmann::ordered_json& value);

// The whole of strText as a number: no spaces, no '+', no sign for unsigned types.
template <class T>
bool ParseWhole(std::string_view strText, T& value, int nBase = 10) {
    const char* pEnd = strText.data() + strText.size();
    std::from_chars_result result;
    if constexpr (std::is_floating_point_v<T>) {
        result = std::from_chars(strText.data(), pEnd, value);
    } else {
        result = std::from_chars(strText.data(), pEnd, value, nBase);
    }
    return !strText.empty() && result.ec == std::errc() && result.ptr == pEnd;
}
