// Shared pieces of the morv3d command-line tool.
#pragma once

#include <string>
#include <vector>

#include "abstractdata/hresult.h"

class CMorv3dViewerDoc;

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitIncomplete = 1;  // the file could not be read or loaded completely
constexpr int kExitUsage = 2;

struct CliCommand {
    const char* pszName;
    const char* pszUsage;    // arguments, e.g. "FILE [--trace]"
    const char* pszSummary;  // one line for --help
    int (*pfnRun)(const std::vector<std::string>& args);
};

// Prints "morv3d: <message>" to stderr; returns kExitUsage.
int UsageError(const std::string& strMessage);
// Prints "morv3d: <path>: <what>: 0x%08X (<meaning>)" to stderr.
void PrintFailure(const std::string& strPath, const std::string& strWhat, HRESULT hr);
// PrintFailure for each pass of the document's last open that failed.
void PrintPassFailures(const std::string& strPath, const CMorv3dViewerDoc& doc);
// "0x%08X".
std::string HexCode(uint32_t dwValue);

int RunChunks(const std::vector<std::string>& args);
int RunInfo(const std::vector<std::string>& args);
int RunValidate(const std::vector<std::string>& args);
int RunTree(const std::vector<std::string>& args);
int RunRender(const std::vector<std::string>& args);
int RunPick(const std::vector<std::string>& args);
int RunImport(const std::vector<std::string>& args);
int RunExport(const std::vector<std::string>& args);
