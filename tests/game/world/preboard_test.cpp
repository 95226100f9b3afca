// The policy-gate answer: read once from "preboard.txt", cached for the run.
// Runs against a temporary HOME so the player's own answer is never touched.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "world/preboard.h"
#include "ruvezor/util/qel_driver.h"

namespace fs = std::filesystem;

namespace {

class PreboardTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/z2-preboard-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        home() = tmpl;
        setenv("HOME", tmpl, 1);
        driver_init(0);
        driver_set_gamename("Zentar 2");
    }
    static void TearDownTestSuite() {
        driver_deinit();
        std::error_code ec;
        fs::remove_all(home(), ec);
    }
    void SetUp() override { preboard_set(0); }  // unread cache, empty file

    static std::string& home() {
        static std::string h;
        return h;
    }
    static fs::path file() { return fs::path(home()) / ".local/share/Zentar 2/preboard.txt"; }
    static void write(const std::string& bytes) { std::ofstream(file(), std::ios::binary) << bytes; }
    static std::string read() {
        std::stringstream ss;
        ss << std::ifstream(file(), std::ios::binary).rdbuf();
        return ss.str();
    }
};

// Only "OK" and "FAIL" are answers: anything else in the file (damaged, or
// edited by hand) is none, so the gate asks again. A missing file is the
// first run's normal case and makes no log line.
TEST_F(PreboardTest, FileIsReadOnceAndOnlyExactAnswersCount) {
    fs::remove(file());
    testing::internal::CaptureStdout();
    EXPECT_EQ(preboard_get(), -2);  // missing
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    write("OK");
    EXPECT_EQ(preboard_get(), -2);  // the cache answers
    preboard_set(0);
    EXPECT_EQ(preboard_get(), -2);  // empty
    const std::string answers[] = {"OK", "FAIL", "OK\n", "ok", "FAILED", std::string(1, '\0'), "\x93\x01garbage"};
    const int expect[] = {1, -1, -2, -2, -2, -2, -2};
    for (int i = 0; i < 7; i++) {
        preboard_set(0);
        write(answers[i]);
        EXPECT_EQ(preboard_get(), expect[i]) << i;
    }
}

TEST_F(PreboardTest, SetWritesTheAnswerAndCachesIt) {
    preboard_set(1);
    EXPECT_EQ(read(), "OK");  // exactly two bytes
    write("FAIL");
    EXPECT_EQ(preboard_get(), 1);  // not read again
    preboard_set(-1);
    EXPECT_EQ(read(), "FAIL");
    EXPECT_EQ(preboard_get(), -1);
    preboard_set(5);  // anything else stores nothing
    EXPECT_EQ(read(), "");
    preboard_set(0);  // and 0 makes the next get read again
    write("OK");
    EXPECT_EQ(preboard_get(), 1);
}

}  // namespace
