// A windowed start and quit of the real program with a fresh HOME leaves the
// two settings files whole, identical and private, and a second start keeps
// the device id they hold.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "z2_test_util.h"

namespace {

// Starts windowed (software GL, silent audio), waits until start-up has read
// the settings, then asks the program to quit as a window close would.
void start_and_quit(z2test::ProgramRun& run) {
  setenv("SDL_VIDEODRIVER", "offscreen", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  std::remove((run.root + "/stdout.txt").c_str());  // a second start must not see the first one's lines
  run.start({});
  ASSERT_TRUE(run.wait_out("-> menus_preboard")) << run.out();  // the first screen: settings are read
  kill(run.pid, SIGTERM);
  ASSERT_EQ(run.wait_exit(), 0) << run.out();
}

std::string udid_of(const std::string& image) {
  const size_t at = 0x49C;  // device id field of the settings record
  return image.size() > at + 64 ? std::string(image.c_str() + at) : "";
}

}  // namespace

TEST(SettingsFiles, WindowedStartLeavesTwoIdenticalPrivateFilesAndKeepsTheDeviceId) {
  z2test::ProgramRun run("z2-settings");
  start_and_quit(run);
  const std::string cloud = run.docdir() + "/settings-cloud.dat";
  const std::string local = run.docdir() + "/settings-local.dat";
  std::string first = z2test::slurp(cloud);
  ASSERT_EQ(first.size(), 4268u);
  EXPECT_EQ(z2test::slurp(local), first);
  for (const std::string& f : {cloud, local}) {
    struct stat st {};
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << f;
  }
  std::string udid = udid_of(first);
  ASSERT_EQ(udid.size(), 32u);
  EXPECT_EQ(udid.find_first_not_of("0123456789abcdef"), std::string::npos) << udid;
  EXPECT_EQ(run.out().find(udid), std::string::npos) << "the device id never reaches the log";

  start_and_quit(run);
  std::string second = z2test::slurp(cloud);
  ASSERT_EQ(second.size(), 4268u);
  EXPECT_EQ(z2test::slurp(local), second);
  EXPECT_EQ(udid_of(second), udid);
}
