// The dedicated server mod played headless with no port: the bots take
// planets on their own, every capture reaches the log, and "-frames" ends the
// run cleanly.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "z2_test_util.h"

namespace {

TEST(ModServer, BotsCapturePlanetsAndTheRunEnds) {
    z2test::ProgramRun host("z2modserver");
    std::filesystem::copy_file(Z2_DATA_DIR "/mod_server.lua", host.root + "/data/mod_server.lua");
    std::filesystem::copy_file(Z2_DATA_DIR "/mod_bots.lua", host.root + "/data/mod_bots.lua");
    std::filesystem::copy_file(Z2_DATA_DIR "/mod_match.lua", host.root + "/data/mod_match.lua");
    host.start({"-headless", "-mod", "mod_server.lua", "-frames", "500"});
    ASSERT_EQ(host.wait_exit(), 0) << host.out();

    std::string out = host.out();
    EXPECT_NE(out.find("$ match: 15 planets, 3 bots"), std::string::npos) << out;
    EXPECT_EQ(out.find("hosting"), std::string::npos);
    EXPECT_NE(out.find("$ stopping after 500 frames"), std::string::npos);

    // Every capture names a bot as the taker; the first ones come from neutral.
    int captures = 0, from_neutral = 0;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        size_t at = line.find("$ capture: planet ");
        if (at == std::string::npos) continue;
        captures++;
        std::string rest = line.substr(at);
        EXPECT_TRUE(rest.find(" by Vega ") != std::string::npos ||
                    rest.find(" by Rigel ") != std::string::npos ||
                    rest.find(" by Deneb ") != std::string::npos)
            << rest;
        if (rest.find(" from neutral") != std::string::npos) from_neutral++;
    }
    EXPECT_GE(captures, 1) << out;
    EXPECT_GE(from_neutral, 1);
    // The log file holds the same lines once the program has closed it.
    EXPECT_NE(host.log().find("$ capture: planet "), std::string::npos);
}

// The galaxy host in front of it: a -match whose port no client can join
// is the operator's mistake, said at the start, and nobody is sent there;
// so is a galaxy host without a -port, which nobody can reach.
TEST(ModServer, TheGalaxyHostTurnsDownAMatchPortNobodyCanJoin) {
    for (const char* match : {"127.0.0.1:99999", "127.0.0.1:0"}) {
        z2test::ProgramRun host("z2modgalaxy");
        std::filesystem::copy_file(Z2_DATA_DIR "/mod_galaxy.lua", host.root + "/data/mod_galaxy.lua");
        host.start({"-headless", "-mod", "mod_galaxy.lua", "-match", match});
        std::string said = std::string("$ no match host: give -match HOST:PORT with a port from 1 to 65535 (got \"") +
                           match + "\")";
        EXPECT_TRUE(host.wait_out(said)) << host.out();
        EXPECT_TRUE(host.wait_out("$ not hosting: give -port PORT")) << host.out();
        host.wait_exit(100);
    }
}

}  // namespace
