// The trace viewer program (tools/traceview) against a buffer this test
// writes through the client: setting up, printing, clearing.
#include <algorithm>

#include "pbtestenv.h"

namespace {

std::string viewer(const std::string& arguments) {
    return "\"" + programBeside("..\\..\\tools\\traceview\\traceview.exe") + "\" " + arguments;
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST_F(TraceLogTest, ViewerSetsUpPrintsClearsAndRemovesTheBuffer) {
    const std::string out = tempPath("out.txt"), folder = tempPath("made");
    ASSERT_EQ(runProgram(viewer("--setup \"" + folder + "\" 20000"), out), 0);
    EXPECT_EQ(readViewerValue("IPC buffer directory"), folder);
    EXPECT_EQ(readViewerValue("IPC buffer size"), "20000");
    PBComponent component;
    PBSetComponent(&component, "Graph", "g", TRUE, 0);
    const int line = __LINE__ + 1;
    TRACE(TRACE_WARNING, "viewer sees %d", 7);
    traceLineEx("fresh.cpp", 55, TRACE_ERROR, &component, nullptr, "Could not create Dump");
    ASSERT_EQ(runProgram(viewer(""), out), 0) << readText(out);
    std::string text = readText(out);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());  // console lines end in CR LF
    char ids[40];
    snprintf(ids, sizeof ids, "%5lu:%-5lu", GetCurrentProcessId(), GetCurrentThreadId());
    EXPECT_TRUE(has(text, "warning " + std::string(ids) + " viewer_test.cpp(" + std::to_string(line) +
                              ") viewer sees 7\n")) << text;
    EXPECT_TRUE(has(text, "error   " + std::string(ids) + " fresh.cpp(55) [Graph] Could not create Dump\n")) << text;

    ASSERT_EQ(runProgram(viewer("-c"), out), 0);
    EXPECT_TRUE(has(readText(out), "-- buffer cleared"));
    EXPECT_EQ(BufferFile(folder + "\\PBIPC.pbd").field(PB_WRITE_OFFSET), 0u);
    logText("fresh news");
    ASSERT_EQ(runProgram(viewer(""), out), 0);
    EXPECT_FALSE(has(readText(out), "viewer sees")) << readText(out);
    EXPECT_TRUE(has(readText(out), "fresh news")) << readText(out);

    ASSERT_EQ(runProgram(viewer("--remove"), out), 0);
    EXPECT_EQ(readViewerValue("IPC buffer directory"), "");
}

