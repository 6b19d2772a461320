#include "cli/runcommand.h"

#include <sys/wait.h>

#include <cstdlib>

#include "support/tempfile.h"

namespace {

std::string Quoted(const std::string& str) {
    std::string strQuoted = "'";
    for (char c : str) {
        strQuoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return strQuoted + "'";
}

}  // namespace

std::string ReadText(const std::string& strPath) {
    const std::vector<uint8_t> bytes = ReadWholeFile(strPath);
    return std::string(bytes.begin(), bytes.end());
}

CommandResult RunCommand(const std::string& strProgram, const std::vector<std::string>& args) {
    CTempDir dir;
    std::string strCommand = Quoted(strProgram);
    for (const std::string& strArg : args) {
        strCommand += " " + Quoted(strArg);
    }
    strCommand += " >" + Quoted(dir.File("out")) + " 2>" + Quoted(dir.File("err")) + " </dev/null";
    const int nStatus = std::system(strCommand.c_str());
    CommandResult result;
    result.nExitCode = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128 + WTERMSIG(nStatus);
    result.strOut = ReadText(dir.File("out"));
    result.strErr = ReadText(dir.File("err"));
    return result;
}
