// Shell completion for the tool, generated from its parser.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

// The completion script for strShell ("bash" or "zsh") of app's verbs and options; "" for
// another shell.
std::string CompletionScript(const CLI::App& app, const std::string& strShell);
