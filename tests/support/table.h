// Case tables and expected texts under tests/data/, for the test programs (MORV_SOURCE_DIR).
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// The rows of a tab-separated file under tests/data/, each led by "FILE:LINE" so that a failing
// check names its case; empty lines and "#" lines skipped.
inline std::vector<std::vector<std::string>> ReadTable(const std::string& strName) {
    std::ifstream in(std::string(MORV_SOURCE_DIR) + "/tests/data/" + strName);
    std::vector<std::vector<std::string>> rows;
    int nLine = 0;
    for (std::string strLine; std::getline(in, strLine);) {
        ++nLine;
        if (strLine.empty() || strLine[0] == '#') {
            continue;
        }
        std::vector<std::string> row{strName + ":" + std::to_string(nLine)};
        std::istringstream fields(strLine);
        for (std::string strField; std::getline(fields, strField, '\t');) {
            row.push_back(strField);
        }
        rows.push_back(row);
    }
    return rows;
}

// A field with its "\xNN" escapes as the bytes they stand for.
inline std::string UnescapeBytes(const std::string& strField) {
    std::string str;
    for (size_t i = 0; i < strField.size(); ++i) {
        const bool bEscape = strField.compare(i, 2, "\\x") == 0 && i + 3 < strField.size();
        str += bEscape ? static_cast<char>(std::stoi(strField.substr(i + 2, 2), nullptr, 16))
                       : strField[i];
        i += bEscape ? 3 : 0;
    }
    return str;
}

// The content of tests/data/<strName>; with MORV_UPDATE_BASELINES set, strActual is written
// there first (to take a new expected text after a deliberate change).
inline std::string ExpectedText(const std::string& strName, const std::string& strActual) {
    const std::string strPath = std::string(MORV_SOURCE_DIR) + "/tests/data/" + strName;
    if (std::getenv("MORV_UPDATE_BASELINES") != nullptr) {
        std::ofstream(strPath, std::ios::binary) << strActual;
    }
    std::ifstream file(strPath, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}
