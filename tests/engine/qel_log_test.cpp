// Log line format: prefix, location, newline rules, and the copy handed to
// the driver's log file.
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_log.h"
#include "z2_test_util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <regex>
#include <string>

namespace fs = std::filesystem;

// The shell's tag, under the test's control.
static std::string g_tag = "0";
static const char* test_tag() { return g_tag.c_str(); }

namespace {

using z2test::stdout_of;

class LogTest : public testing::Test {
 protected:
  void SetUp() override {
    g_tag = "0";
    qel_log_set_tag(test_tag);
  }
  void TearDown() override { g_tag = "0"; }
};

TEST_F(LogTest, TagZeroStartsWithLocation) {
  std::string out = stdout_of([] { _qel_iprintf("/a/b/c/file.cpp", 42, "func", 0, "hello %d\n", 7); });
  EXPECT_EQ(out, "[file.cpp:func:42] hello 7\n");
}

TEST_F(LogTest, OtherTagsGetTagAndLocalTimeStamp) {
  g_tag = "4000";
  time_t before = time(nullptr);
  std::string out = stdout_of([] { _qel_iprintf("x/y.cpp", 7, "fn", 0, "msg"); });
  time_t after = time(nullptr);

  std::smatch m;
  std::regex re(R"(^\[4000\]\[(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})\] \[y\.cpp:fn:7\] msg\n$)");
  ASSERT_TRUE(std::regex_match(out, m, re)) << out;
  struct tm tm_line = {};
  tm_line.tm_year = std::stoi(m[1]) - 1900;
  tm_line.tm_mon = std::stoi(m[2]) - 1;
  tm_line.tm_mday = std::stoi(m[3]);
  tm_line.tm_hour = std::stoi(m[4]);
  tm_line.tm_min = std::stoi(m[5]);
  tm_line.tm_sec = std::stoi(m[6]);
  tm_line.tm_isdst = -1;
  time_t stamped = mktime(&tm_line);
  EXPECT_GE(stamped, before);
  EXPECT_LE(stamped, after);

  // Only exactly "0" drops the prefix.
  for (const char* tag : {"-1", "00", "", "0 "}) {
    g_tag = tag;
    out = stdout_of([] { _qel_iprintf(nullptr, 0, nullptr, 0, "m"); });
    EXPECT_EQ(out.rfind("[" + g_tag + "][", 0), 0u) << "tag '" << tag << "': " << out;
    // "[tag][YYYY-MM-DD hh:mm:ss] m\n"
    EXPECT_EQ(out.size(), g_tag.size() + 26) << out;
    EXPECT_EQ(out.substr(out.size() - 4), "] m\n");
  }
}

TEST_F(LogTest, LocationRules) {
  EXPECT_EQ(stdout_of([] { _qel_iprintf("plain.cpp", 3, "f", 0, "x\n"); }), "[plain.cpp:f:3] x\n");
  EXPECT_EQ(stdout_of([] { _qel_iprintf("dir/", 3, "f", 0, "x\n"); }), "[:f:3] x\n");
  EXPECT_EQ(stdout_of([] { _qel_iprintf("/abs/deep/path/z.h", -5, "g", 0, "x\n"); }), "[z.h:g:-5] x\n");
  // No location when the line is 0 or a name is missing.
  EXPECT_EQ(stdout_of([] { _qel_iprintf("a.cpp", 0, "f", 0, "x\n"); }), "x\n");
  EXPECT_EQ(stdout_of([] { _qel_iprintf(nullptr, 3, "f", 0, "x\n"); }), "x\n");
  EXPECT_EQ(stdout_of([] { _qel_iprintf("a.cpp", 3, nullptr, 0, "x\n"); }), "x\n");
}

TEST_F(LogTest, MacroFillsCallerLocation) {
  int line = 0;
  std::string out = stdout_of([&] {
    line = __LINE__ + 1;
    qel_log("value %s\n", "v");
  });
  // Inside a lambda __func__ is "operator()".
  EXPECT_EQ(out, "[qel_log_test.cpp:operator():" + std::to_string(line) + "] value v\n");
}

TEST_F(LogTest, ExactlyOneTrailingNewline) {
  EXPECT_EQ(stdout_of([] { _qel_iprintf("f.c", 1, "f", 0, "no newline"); }), "[f.c:f:1] no newline\n");
  EXPECT_EQ(stdout_of([] { _qel_iprintf("f.c", 1, "f", 0, "one\n"); }), "[f.c:f:1] one\n");
  EXPECT_EQ(stdout_of([] { _qel_iprintf("f.c", 1, "f", 0, "two\n\n"); }), "[f.c:f:1] two\n\n");
  EXPECT_EQ(stdout_of([] { _qel_iprintf("f.c", 1, "f", 0, "%s", ""); }), "[f.c:f:1] \n");
  EXPECT_EQ(stdout_of([] { _qel_iprintf(nullptr, 0, nullptr, 0, "%s", ""); }), "\n");
  EXPECT_EQ(stdout_of([] { _qel_iprintf(nullptr, 0, nullptr, 0, "mid\nline"); }), "mid\nline\n");
}

// A player's name or a mod's print must not steer the terminal the operator
// reads the log in.
TEST_F(LogTest, ControlCharactersBecomeQuestionMarks) {
  std::string out = stdout_of([] {
    _qel_iprintf(nullptr, 0, nullptr, 0, "%s", "a\x1b[2Jb\rc\x07" "d\te\x7f f\xc2\x9bg \xc3\xa9\n");
  });
  EXPECT_EQ(out, "a?[2Jb?c?d\te? f?g \xc3\xa9\n");
}

TEST_F(LogTest, MessageHasNoLengthLimitAndLocationIsCut) {
  std::string big(100000, 'q');
  std::string out = stdout_of([&] { _qel_iprintf(nullptr, 0, nullptr, 0, "%s|", big.c_str()); });
  EXPECT_EQ(out, big + "|\n");

  // A location longer than its buffer is cut to fit, never overrun.
  std::string fn(600, 'f');
  out = stdout_of([&] { _qel_iprintf("a.cpp", 9, fn.c_str(), 0, "tail\n"); });
  ASSERT_GT(out.size(), 5u);
  EXPECT_EQ(out.substr(out.size() - 5), "tail\n");
  EXPECT_EQ(out.size(), 255u + 5u);
  EXPECT_EQ(out.rfind("[a.cpp:fff", 0), 0u);
}

TEST_F(LogTest, SameBytesReachTheLogFile) {
  z2test::TempDir tmp;
  fs::path home = tmp.enter_as_home("qel_log_test_");

  g_tag = "777";
  driver_init(DRIVER_LOG);
  driver_set_gamename("LogTest");
  std::string out = stdout_of([] { _qel_iprintf("src/q.cpp", 12, "go", 0, "to both %d", 5); });
  driver_deinit();

  std::string file = z2test::slurp(home / ".local/share/LogTest/ruvezor.log");
  std::string tail = out + "\n[_driver_log_deinit]\n";
  EXPECT_EQ(file.rfind("[_driver_log_init]\n", 0), 0u);
  ASSERT_GE(file.size(), tail.size());
  EXPECT_EQ(file.substr(file.size() - tail.size()), tail);
}

}  // namespace
