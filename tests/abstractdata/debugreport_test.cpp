#include "abstractdata/debugreport.h"

#include <gtest/gtest.h>

static constexpr char kReportUnit[] = "tests/debugreport";

TEST(DebugReport, FailureReportNamesUnitLineAndCode) {
    CReportCapture capture;
    const int nLine = __LINE__ + 1;
    ASSERT_HRESULT(E_FAIL);
    ASSERT_EQ(capture.Entries().size(), 1u);
    EXPECT_EQ(capture.Entries()[0].strMessage, "Error: ASSERT_HRESULT(0x80004005)\n");
    EXPECT_EQ(capture.Lines()[0], "tests/debugreport(" + std::to_string(nLine) +
                                      ") : Error: ASSERT_HRESULT(0x80004005)");
}

TEST(DebugReport, CaptureCollectsUntilSwitchedOffAndRestoresTheState) {
    const bool bBefore = ReportsEnabled();
    {
        CReportCapture capture;
        EXPECT_TRUE(ReportsEnabled());
        REPORT_IF_FAILED(S_OK);
        REPORT_IF_FAILED(MORV_E_BADFORMAT);
        DEBUG_ASSERT(false);
        ASSERT_EQ(capture.Entries().size(), 2u);
        EXPECT_EQ(capture.Entries()[1].kind, ReportKind::Assertion);
        capture.Clear();
        SetReportsEnabled(false);
        ASSERT_HRESULT(E_UNEXPECTED);
        DEBUG_ASSERT(1 == 2);
        SetReportsEnabled(true);
        EXPECT_TRUE(capture.Entries().empty());
    }
    EXPECT_EQ(ReportsEnabled(), bBefore);
}
