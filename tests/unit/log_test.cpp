#include <gtest/gtest.h>

#include <regex>

#include "log_sink.h"
#include "runtime/except.h"
#include "runtime/kvlog.h"

namespace kv {
namespace {

// Counts its references: the log must give back the one it takes.
struct Sink : testsupport::Counted<testsupport::LogSink> {
    Sink() : Counted(IID_IKvLogSlot) {}
};

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override { KvLog().SetLogSlot(&sink); }
    void TearDown() override {
        KvLog().ResetForTests();
        EXPECT_EQ(sink.refs, 1u);
    }
    void Use(int mode, int level) {
        KvLog().SetOutputMode(mode);
        KvLog().SetLogLevel(level);
        sink.lines.clear();
    }
    // The text after the prefix "%08x:%08d-%02d:%02d:%02d.%04d:".
    static std::string Body(const std::string &line) { return line.size() > 32 ? line.substr(32) : ""; }
    Sink sink;
};

TEST_F(LogTest, FilterExceptionLinesAndTraceScopes) {
    struct Case {
        int mode, threshold;
        std::vector<int> passing; // of levels 1, 2, 3, 128
    } cases[] = {
        {0, 3, {}},             // logging off
        {4, 3, {}},             // unknown mode writes nothing
        {2, 1, {1}},            // exceptions only
        {2, 2, {1, 2}},         // plus calls and events
        {2, 3, {1, 2, 3, 128}}, // protocol lines count as level 3
        {2, 128, {128}},        // protocol alone
    };
    const std::regex prefix("[0-9a-f]{8}:[0-9]{8}-[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{4}:%s[0-9]+");
    for (const Case &c : cases) {
        Use(c.mode, c.threshold);
        for (int level : {1, 2, 3, 128}) KvLog().Write(level, "%s" + std::to_string(level)); // no format
        std::vector<int> got;
        for (const auto &l : sink.lines) {
            EXPECT_TRUE(std::regex_match(l, prefix)) << l;
            got.push_back(std::stoi(Body(l).substr(2)));
        }
        EXPECT_EQ(got, c.passing) << "mode " << c.mode << " threshold " << c.threshold;
    }
    // An exception writes its line at level one, with a line for each message pushed.
    Use(2, 1);
    clsExcept e(-7, "rejected 50%s");
    e.Push("[clsSMTP::Send()]");
    ASSERT_EQ(sink.lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(Body(sink.lines[0]), std::regex("ERR [0-9a-f]{8}:\\?{8}-[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{4}:"
                                                                  "EXCEPTION\\(rejected 50%s\\)")))
        << sink.lines[0];
    // A trace scope writes its entry, its result and its detail.
    Use(2, 2);
    for (HRESULT result : {S_FALSE, E_INVALIDARG, HRESULT(0x80001234)}) {
        HRESULT hr = S_OK;
        clsTraceScope t(&hr, "clsX::Y(%d,'%ws')", 7, u"\u00e4b");
        if (result == E_INVALIDARG) t.SetDetail("-13='x'");
        hr = result;
    }
    std::vector<std::string> bodies;
    for (const auto &l : sink.lines) bodies.push_back(Body(l));
    const std::string entry = ">clsX::Y(7,'\xC3\xA4" "b')";
    EXPECT_EQ(bodies, (std::vector<std::string>{entry, "<S_FALSE", entry, "<The parameter is incorrect. (80070057) (-13='x')",
                                                entry, "<(error code 0x80001234)"}));

    // Below the calls' level, and at the protocol's alone, nothing is traced.
    for (int threshold : {1, 128}) {
        Use(2, threshold);
        HRESULT hr = S_OK;
        { clsTraceScope t(&hr, "clsX::Y()"); }
        EXPECT_TRUE(sink.lines.empty()) << threshold;
    }
}

} // namespace
} // namespace kv
