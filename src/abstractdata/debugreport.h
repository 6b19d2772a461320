// Debug reports: failure reports ("Error: ASSERT_HRESULT(0x80004005)"), the few messages of
// their own, and assertions on caller errors. They never change a result. Every report goes
// through one function to one sink; reports are on by default in Debug builds and off in
// Release builds, and can be switched at run time (the CLI's --trace, the tests).
//
// Each source file names its unit once, before using the macros:
//     static constexpr char kReportUnit[] = "fileformats/morv/morv";
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "abstractdata/hresult.h"

enum class ReportKind {
    Warning,    // failure reports and messages
    Assertion,  // a caller broke a precondition
};

struct DebugReportEntry {
    std::string strUnit;
    int nLine = 0;
    ReportKind kind = ReportKind::Warning;
    std::string strMessage;  // as formatted, e.g. "Error: ASSERT_HRESULT(0x80004005)\n"
};

using ReportSink = std::function<void(const DebugReportEntry&)>;

// Installs a sink; an empty sink restores the default, which writes
// "<unit>(<line>) : <message>" to stderr. Returns the previous sink.
ReportSink SetReportSink(ReportSink sink);
// Returns the previous state.
bool SetReportsEnabled(bool bEnabled);
bool ReportsEnabled();

// printf-style; does nothing while reports are off.
void DebugReport(const char* pszUnit, int nLine, ReportKind kind, const char* pszFormat, ...)
    __attribute__((format(printf, 4, 5)));

// The line a report is shown as: "<unit>(<line>) : <message>" without a trailing newline.
std::string FormatReport(const DebugReportEntry& entry);

// Switches reports on and records them while it lives; restores the previous sink and state.
class CReportCapture {
public:
    CReportCapture();
    ~CReportCapture();
    CReportCapture(const CReportCapture&) = delete;
    CReportCapture& operator=(const CReportCapture&) = delete;

    const std::vector<DebugReportEntry>& Entries() const { return m_entries; }
    // The reports as shown, one per element.
    std::vector<std::string> Lines() const;
    void Clear() { m_entries.clear(); }

private:
    std::vector<DebugReportEntry> m_entries;
    ReportSink m_previousSink;
    bool m_bPreviousEnabled;
};

#define ASSERT_HRESULT(hr)                                                                   \
    DebugReport(kReportUnit, __LINE__, ReportKind::Warning, "Error: ASSERT_HRESULT(0x%X)\n", \
                static_cast<unsigned>(hr))

// Reports hr if it is a failure, naming the caller's unit and line, and hands it on:
//     return REPORTED(hr);
inline HRESULT ReportIfFailed(const char* pszUnit, int nLine, HRESULT hr) {
    if (FAILED(hr)) {
        DebugReport(pszUnit, nLine, ReportKind::Warning, "Error: ASSERT_HRESULT(0x%X)\n",
                    static_cast<unsigned>(hr));
    }
    return hr;
}
#define REPORTED(hr) ReportIfFailed(kReportUnit, __LINE__, (hr))

// Reports a failed result, if it is one.
#define REPORT_IF_FAILED(hr)            \
    do {                                \
        const HRESULT hrReport_ = (hr); \
        if (FAILED(hrReport_)) {        \
            ASSERT_HRESULT(hrReport_);  \
        }                               \
    } while (0)

// A caller error: reported, never fatal.
#define DEBUG_ASSERT(cond)                                                                      \
    do {                                                                                        \
        if (!(cond)) {                                                                          \
            DebugReport(kReportUnit, __LINE__, ReportKind::Assertion, "Assertion failed: %s\n", \
                        #cond);                                                                 \
        }                                                                                       \
    } while (0)
