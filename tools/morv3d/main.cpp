#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "abstractdata/debugreport.h"
#include "cli.h"
#include "completion.h"
#include "morv3d_version.h"
#include "viewer/document.h"

namespace {

// Help in the tool's own layout: every verb with its synopsis; for one verb, its options too.
class CHelpFormatter : public CLI::Formatter {
public:
    std::string make_help(const CLI::App* pApp, std::string,
                          CLI::AppFormatMode mode) const override {
        if (pApp->get_parent() != nullptr) {
            return "Usage: morv3d " + Synopsis(pApp) + "\n  " + pApp->get_description() + "\n" +
                   make_groups(pApp, mode) + "\n";
        }
        std::string strHelp =
            "Usage: morv3d COMMAND [ARGS]\n"
            "       morv3d COMMAND --help\n"
            "       morv3d --help | --version\n\n"
            "Commands:\n";
        for (const CLI::App* pVerb : pApp->get_subcommands({})) {
            strHelp += "  " + Synopsis(pVerb) + "\n      " + pVerb->get_description() + "\n";
        }
        return strHelp +
               "\nExit status: 0 success, 1 the file could not be read or loaded completely,\n"
               "2 usage error.\n";
    }

private:
    // "render FILE OUT.png [--size WxH] ...".
    static std::string Synopsis(const CLI::App* pVerb) {
        std::string strText = pVerb->get_name();
        for (const CLI::Option* pOption : pVerb->get_options()) {
            std::string strPart = pOption->get_name();
            if (pOption == pVerb->get_help_ptr()) {
                continue;
            }
            if (!pOption->get_positional() && !pOption->get_type_name().empty()) {
                strPart += " " + pOption->get_type_name();
            }
            const bool bOptional = !pOption->get_positional() && !pOption->get_required();
            strText += " " + (bOptional ? "[" + strPart + "]" : strPart);
        }
        return strText;
    }
};

std::string JsonText(const nlohmann::ordered_json& value) {
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

CCli::CCli() : m_app("draws, checks and converts morv3d scenes", "morv3d") {
    m_app.formatter(std::make_shared<CHelpFormatter>());
    m_app.set_version_flag("--version", "morv3d " MORV3D_VERSION);
    // One verb; after it a verb's name is a file name.
    m_app.require_subcommand(0, 1);
    // Unknown verbs and options are ours to report; the verbs inherit this.
    m_app.allow_extras();
    // Not in --help: the build writes the shell completion scripts with it.
    m_app.add_option("--completion", m_strCompletion, "print the completion script of a shell")
        ->group("");
}

CLI::App* CCli::AddVerb(const char* pszName, const char* pszSummary, const char* pszArgsError,
                        std::function<int()> fnRun) {
    CLI::App* pVerb = m_app.add_subcommand(pszName, pszSummary);
    m_verbs.push_back({pVerb, pszArgsError, std::move(fnRun)});
    return pVerb;
}

CLI::Option* CCli::AddValue(CLI::App* pVerb, const char* pszName, const char* pszType,
                            const char* pszHelp, std::string strUsage,
                            std::function<bool(const std::string&)> fnTake) {
    // The value is optional to CLI11, so a missing one reaches fnTake as "" and gets our message.
    const auto take = [this, fnTake = std::move(fnTake),
                       strUsage = std::move(strUsage)](const CLI::results_t& values) {
        if (!fnTake(values.empty() ? std::string() : values.back()) && m_strBadValue.empty()) {
            m_strBadValue = strUsage;
        }
        return true;
    };
    return pVerb->add_option(pszName, take, pszHelp)
        ->type_name(pszType)
        ->expected(0, 1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

int CCli::Run(int argc, char** argv) {
    for (const Verb& verb : m_verbs) {
        verb.pApp->add_flag("--trace", m_bTrace,
                            "show the failure reports of the library on stderr");
    }
    // CLI11 takes a vector last argument first; `morv3d help [VERB]` is --help.
    std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
    if (!args.empty() && args[0] == "help") {
        args[0] = "--help";
    }
    std::reverse(args.begin(), args.end());
    try {
        m_app.parse(args);
    } catch (const CLI::Success& e) {  // --help, --version
        return m_app.exit(e);
    } catch (const CLI::RequiredError&) {
        // A required option is missing: RunVerb names it.
    } catch (const CLI::ParseError& e) {
        return UsageError(e.what());
    }
    if (!m_strCompletion.empty()) {
        const std::string strScript = CompletionScript(m_app, m_strCompletion);
        if (strScript.empty()) {
            return UsageError("--completion takes bash or zsh");
        }
        std::fputs(strScript.c_str(), stdout);
        return kExitOk;
    }
    // What comes before the verb must be a verb too.
    const std::vector<std::string> rest = m_app.remaining();
    if (!rest.empty()) {
        return UsageError("unknown command '" + rest[0] + "'");
    }
    for (const Verb& verb : m_verbs) {
        if (verb.pApp->parsed()) {
            return RunVerb(verb);
        }
    }
    return UsageError("no command given");
}

int CCli::RunVerb(const Verb& verb) {
    if (!m_strBadValue.empty()) {
        return UsageError(m_strBadValue);
    }
    const std::string strVerb = verb.pApp->get_name();
    // CLI11 keeps the "--" that ends the options among the extras.
    std::vector<std::string> rest = verb.pApp->remaining();
    std::erase(rest, "--");
    for (const std::string& strArg : rest) {
        if (strArg.size() > 1 && strArg[0] == '-') {
            return UsageError(strVerb + ": unknown option '" + strArg + "'");
        }
    }
    for (const CLI::Option* pOption : verb.pApp->get_options()) {
        if (pOption->count() > 0) {
            continue;
        }
        if (pOption->get_positional()) {
            return UsageError(verb.pszArgsError);
        }
        if (pOption->get_required()) {
            return UsageError(strVerb + " needs " + pOption->get_name() + " " +
                              pOption->get_type_name());
        }
    }
    if (!rest.empty()) {
        return UsageError(verb.pszArgsError);
    }
    // The library reports nothing unless the user asks for it.
    SetReportsEnabled(m_bTrace);
    return verb.fnRun();
}

int UsageError(const std::string& strMessage) {
    std::fprintf(stderr, "morv3d: %s\nTry 'morv3d --help'.\n", strMessage.c_str());
    return kExitUsage;
}

CMorv3dViewerDoc& DocumentOfThisRun() {
    static auto* pDocument = new CMorv3dViewerDoc;
    return *pDocument;
}

void PrintPassFailures(const std::string& strPath, const CMorv3dViewerDoc& doc) {
    if (FAILED(doc.GetMaterialsResult())) {
        PrintFailure(strPath, "the materials could not be loaded completely",
                     doc.GetMaterialsResult());
    }
    if (FAILED(doc.GetObjectsResult())) {
        PrintFailure(strPath, "the objects could not be loaded completely", doc.GetObjectsResult());
    }
}

std::string HexCode(uint32_t dwValue) {
    char szText[16];
    std::snprintf(szText, sizeof(szText), "0x%08X", dwValue);
    return szText;
}

void PrintFailure(const std::string& strPath, const std::string& strWhat, HRESULT hr) {
    std::fprintf(stderr, "morv3d: %s: %s: %s (%s)\n", strPath.c_str(), strWhat.c_str(),
                 HexCode(static_cast<uint32_t>(hr)).c_str(), HResultMessage(hr));
}

// nlohmann's own number text is the shortest that reads back, and not always that; six
// significant digits keep the output stable. Recursion: the tool builds at most three levels.
std::string JsonLine(const nlohmann::ordered_json& value) {
    const bool bObject = value.is_object();
    if (bObject || value.is_array()) {
        std::string strText(1, bObject ? '{' : '[');
        for (auto it = value.begin(); it != value.end(); ++it) {
            strText += it == value.begin() ? "" : ", ";
            strText += bObject ? JsonText(it.key()) + ": " + JsonLine(it.value()) : JsonLine(*it);
        }
        return strText + (bObject ? '}' : ']');
    }
    if (value.is_number_float()) {
        const double dValue = value.get<double>();
        char szText[32] = "null";
        if (std::isfinite(dValue)) {
            std::snprintf(szText, sizeof(szText), "%.6g", dValue);
        }
        return szText;
    }
    return JsonText(value);
}

int main(int argc, char** argv) {
    // No exception leaves: CLI11 throws, and so does a failed allocation.
    try {
        CCli cli;
        AddChunks(cli);
        AddInfo(cli);
        AddTree(cli);
        AddPicture(cli);
        AddImport(cli);
        AddExport(cli);
        return cli.Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "morv3d: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "morv3d: unexpected failure\n");
    }
    return kExitIncomplete;
}
