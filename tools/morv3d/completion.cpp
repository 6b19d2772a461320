// Shell completion scripts written from the parser's own verbs and options, so they cannot
// drift from what the tool accepts (`morv3d --completion bash|zsh`, run by the build).
#include "completion.h"

#include <string>
#include <vector>

namespace {

struct VerbOptions {
    std::string strName;
    std::string strSummary;
    std::vector<const CLI::Option*> options;  // named ones only; positionals are files
};

std::vector<VerbOptions> Verbs(const CLI::App& app) {
    std::vector<VerbOptions> verbs;
    for (const CLI::App* pVerb : app.get_subcommands({})) {
        VerbOptions verb{pVerb->get_name(), pVerb->get_description(), {}};
        for (const CLI::Option* pOption : pVerb->get_options()) {
            if (!pOption->get_positional()) {
                verb.options.push_back(pOption);
            }
        }
        verbs.push_back(std::move(verb));
    }
    return verbs;
}

// "front|top|side|iso" -> "front top side iso"; "" for a value that is no choice.
std::string Choices(const CLI::Option* pOption) {
    std::string strType = pOption->get_type_name();
    if (strType.find('|') == std::string::npos) {
        return "";
    }
    for (char& c : strType) {
        c = c == '|' ? ' ' : c;
    }
    return strType;
}

bool TakesValue(const CLI::Option* pOption) {
    return !pOption->get_type_name().empty();
}

// The long name ("--size"), or the first name CLI11 has.
std::string LongName(const CLI::Option* pOption) {
    const std::vector<std::string>& names = pOption->get_lnames();
    return names.empty() ? pOption->get_name() : "--" + names.front();
}

// Text inside a single-quoted zsh _arguments description: its first clause, brackets and colons
// as spaces, a quote closed, escaped and reopened ("pass's" stays "pass's").
std::string ZshText(const std::string& strText) {
    std::string strShort = strText.substr(0, strText.find_first_of(";("));
    while (!strShort.empty() && strShort.back() == ' ') {
        strShort.pop_back();
    }
    std::string strQuoted;
    for (const char c : strShort) {
        if (c == '\'') {
            strQuoted += "'\\''";
        } else {
            strQuoted += (c == '[' || c == ']' || c == ':') ? ' ' : c;
        }
    }
    return strQuoted;
}

std::string Bash(const CLI::App& app) {
    const std::vector<VerbOptions> verbs = Verbs(app);
    std::string strPattern;  // "chunks|info|..."
    std::string strWords;    // "chunks info ..."
    for (const VerbOptions& verb : verbs) {
        strPattern += (strPattern.empty() ? "" : "|") + verb.strName;
        strWords += verb.strName + " ";
    }
    std::string strText =
        "# bash completion for morv3d, written by `morv3d --completion bash`\n"
        "_morv3d() {\n"
        "    local cur=\"${COMP_WORDS[COMP_CWORD]}\" prev=\"${COMP_WORDS[COMP_CWORD-1]}\"\n"
        "    local verb=\"\" opts=\"\" i\n"
        "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
        "        case \"${COMP_WORDS[i]}\" in\n"
        "            " +
        strPattern +
        ") verb=\"${COMP_WORDS[i]}\"; break ;;\n"
        "        esac\n"
        "    done\n"
        "    if [[ -z $verb ]]; then\n"
        "        COMPREPLY=($(compgen -W \"" +
        strWords +
        "help --help --version\" -- \"$cur\"))\n"
        "        return\n"
        "    fi\n"
        "    case \"$verb $prev\" in\n";
    for (const VerbOptions& verb : verbs) {
        for (const CLI::Option* pOption : verb.options) {
            if (!TakesValue(pOption)) {
                continue;
            }
            // A value of choices is offered; any other value is the user's to type.
            const std::string strChoices = Choices(pOption);
            strText += "        \"" + verb.strName + " " + LongName(pOption) + "\") ";
            strText += strChoices.empty() ? "return ;;\n"
                                          : "COMPREPLY=($(compgen -W \"" + strChoices +
                                                "\" -- \"$cur\")); "
                                                "return ;;\n";
        }
    }
    strText +=
        "    esac\n"
        "    case \"$verb\" in\n";
    for (const VerbOptions& verb : verbs) {
        std::string strOptions = "--help";
        for (const CLI::Option* pOption : verb.options) {
            if (LongName(pOption) != "--help") {
                strOptions += " " + LongName(pOption);
            }
        }
        strText += "        " + verb.strName + ") opts=\"" + strOptions + "\" ;;\n";
    }
    strText +=
        "    esac\n"
        "    if [[ $cur == -* ]]; then\n"
        "        COMPREPLY=($(compgen -W \"$opts\" -- \"$cur\"))\n"
        "    else\n"
        "        compopt -o filenames 2>/dev/null\n"
        "        COMPREPLY=($(compgen -f -- \"$cur\"))\n"
        "    fi\n"
        "}\n"
        "complete -F _morv3d morv3d\n";
    return strText;
}

std::string Zsh(const CLI::App& app) {
    const std::vector<VerbOptions> verbs = Verbs(app);
    std::string strText =
        "#compdef morv3d\n"
        "# zsh completion for morv3d, written by `morv3d --completion zsh`\n"
        "_morv3d() {\n"
        "    local -a verbs\n"
        "    verbs=(\n";
    for (const VerbOptions& verb : verbs) {
        strText += "        '" + verb.strName + ":" + ZshText(verb.strSummary) + "'\n";
    }
    strText +=
        "    )\n"
        "    if (( CURRENT == 2 )); then\n"
        "        _describe -t commands command verbs\n"
        "        return\n"
        "    fi\n"
        "    local verb=$words[2]\n"
        "    shift words\n"
        "    (( CURRENT-- ))\n"
        "    case $verb in\n";
    for (const VerbOptions& verb : verbs) {
        strText += "        " + verb.strName + ")\n            _arguments";
        for (const CLI::Option* pOption : verb.options) {
            const std::string strName = LongName(pOption);
            strText += " \\\n                '" + strName + "[" +
                       ZshText(pOption->get_description()) + "]";
            if (TakesValue(pOption)) {
                const std::string strChoices = Choices(pOption);
                strText += ":" + ZshText(pOption->get_type_name()) + ":" +
                           (strChoices.empty() ? "" : "(" + strChoices + ")");
            }
            strText += "'";
        }
        strText += " \\\n                '*:file:_files' ;;\n";
    }
    strText +=
        "    esac\n"
        "}\n"
        "_morv3d \"$@\"\n";
    return strText;
}

}  // namespace

std::string CompletionScript(const CLI::App& app, const std::string& strShell) {
    if (strShell == "bash") {
        return Bash(app);
    }
    if (strShell == "zsh") {
        return Zsh(app);
    }
    return "";
}
