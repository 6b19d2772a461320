#include "abstractdata/debugreport.h"

#include <cstdarg>
#include <cstdio>

namespace {

#ifdef NDEBUG
bool g_bReportsEnabled = false;
#else
bool g_bReportsEnabled = true;
#endif

ReportSink& Sink() {
    static ReportSink sink;
    return sink;
}

void WriteToStderr(const DebugReportEntry& entry) {
    std::fprintf(stderr, "%s\n", FormatReport(entry).c_str());
}

}  // namespace

ReportSink SetReportSink(ReportSink sink) {
    ReportSink previous = std::move(Sink());
    Sink() = std::move(sink);
    return previous;
}

bool SetReportsEnabled(bool bEnabled) {
    const bool bPrevious = g_bReportsEnabled;
    g_bReportsEnabled = bEnabled;
    return bPrevious;
}

bool ReportsEnabled() {
    return g_bReportsEnabled;
}

void DebugReport(const char* pszUnit, int nLine, ReportKind kind, const char* pszFormat, ...) {
    if (!g_bReportsEnabled) {
        return;
    }
    try {
        DebugReportEntry entry;
        entry.strUnit = pszUnit;
        entry.nLine = nLine;
        entry.kind = kind;

        va_list args;
        va_start(args, pszFormat);
        va_list argsCopy;
        va_copy(argsCopy, args);
        const int nLength = std::vsnprintf(nullptr, 0, pszFormat, args);
        va_end(args);
        if (nLength > 0) {
            entry.strMessage.resize(static_cast<size_t>(nLength) + 1);
            std::vsnprintf(entry.strMessage.data(), entry.strMessage.size(), pszFormat, argsCopy);
            entry.strMessage.resize(static_cast<size_t>(nLength));
        }
        va_end(argsCopy);

        if (Sink()) {
            Sink()(entry);
        } else {
            WriteToStderr(entry);
        }
    } catch (...) {
        // A report must never change what the reporting operation does.
    }
}

std::string FormatReport(const DebugReportEntry& entry) {
    std::string strMessage = entry.strMessage;
    while (!strMessage.empty() && strMessage.back() == '\n') {
        strMessage.pop_back();
    }
    return entry.strUnit + "(" + std::to_string(entry.nLine) + ") : " + strMessage;
}

CReportCapture::CReportCapture()
    : m_previousSink(
          SetReportSink([this](const DebugReportEntry& entry) { m_entries.push_back(entry); })),
      m_bPreviousEnabled(SetReportsEnabled(true)) {}

CReportCapture::~CReportCapture() {
    SetReportSink(std::move(m_previousSink));
    SetReportsEnabled(m_bPreviousEnabled);
}

std::vector<std::string> CReportCapture::Lines() const {
    std::vector<std::string> lines;
    for (const DebugReportEntry& entry : m_entries) {
        lines.push_back(FormatReport(entry));
    }
    return lines;
}
