// Runs a program of this project and captures what it prints.
#pragma once

#include <string>
#include <vector>

struct CommandResult {
    int nExitCode = -1;
    std::string strOut;
    std::string strErr;
};

// Runs strProgram with the arguments (quoted for the shell) and waits for it.
CommandResult RunCommand(const std::string& strProgram, const std::vector<std::string>& args);

// The whole file as text; empty when it cannot be read.
std::string ReadText(const std::string& strPath);
