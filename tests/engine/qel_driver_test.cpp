// Driver core: state, directories, whole-file load/save, log file and
// backlog, clock and frame tick, opening URLs. Every test runs with a
// temporary HOME.
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_log.h"
#include "z2_test_util.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>  // RLIMIT_FSIZE: a full disk
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

// Build switches' debug mode, under the test's control.
static bool g_debug = false;
static bool test_debug() { return g_debug; }

namespace {

using z2test::slurp;
using z2test::spit;
using z2test::stdout_of;

int entries_of(const fs::path& dir) {
  int n = 0;
  for (auto& e : fs::directory_iterator(dir)) (void)e, ++n;
  return n;
}
int open_fds() { return entries_of("/proc/self/fd"); }
mode_t mode_of(const fs::path& p) {
  struct stat st = {};
  return stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Fake microsecond source for the clock.
uint64_t g_fake_us = 0;
uint64_t fake_clock() { return g_fake_us; }

class DriverTest : public testing::Test {
 protected:
  z2test::TempDir tmp;
  fs::path root, home;
  std::string old_path;

  void SetUp() override {
    root = tmp.enter_as_home("qel_driver_test_", "home");
    home = root / "home";
    old_path = getenv("PATH") ? getenv("PATH") : "";
    g_debug = false;
    driver_set_debug_check(test_debug);
    drain_backlog();
  }

  void TearDown() override {
    driver_deinit();
    _driver_timer_set_source(nullptr);
    setenv("PATH", old_path.c_str(), 1);
    tmp.leave();
  }

  // Lines left waiting by earlier tests go to a scratch log file.
  void drain_backlog() {
    driver_init(DRIVER_LOG);
    driver_set_gamename("drain");
    driver_log_printf("drained\n");
    driver_deinit();
    fs::remove_all(home / ".local");
  }

  fs::path docdir(const char* game) { return home / ".local/share" / game; }
  fs::path log_path() { return docdir("Zentar 2") / "ruvezor.log"; }
  // The driver started with the game's name: its log file opens.
  static void start_named(int flags = DRIVER_LOG) {
    driver_init(flags);
    driver_set_gamename("Zentar 2");
  }
  // A run of its own starts the log file afresh.
  void expect_a_new_run_starts_afresh() {
    start_named();
    driver_log_printf("next run\n");
    driver_deinit();
    EXPECT_EQ(slurp(log_path()), "[_driver_log_init]\nnext run\n\n[_driver_log_deinit]\n");
  }
};

// ---- state -------------------------------------------------------------------

TEST_F(DriverTest, InitGivesZeroedStateAndSettersCopyWithinLimits) {
  driver_init(DRIVER_TIMER);
  int w = -1, h = -1;
  driver_get_size(&w, &h);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
  EXPECT_FLOAT_EQ(driver_get_aspect(), 1.0f);
  EXPECT_FLOAT_EQ(driver_get_scale(), 1.0f);
  EXPECT_FLOAT_EQ(driver_get_orient(), 0.0f);
  EXPECT_STREQ(driver_get_caption(), "");
  EXPECT_STREQ(driver_get_icon(), "");
  EXPECT_STREQ(driver_get_idiom(), "");  // headless: no video, no idiom

  driver_set_size(1000, 500);
  driver_set_aspect(2.0f);
  driver_set_scale(1.5f);
  driver_set_orient(90.0f);
  driver_get_size(&w, &h);
  EXPECT_EQ(w, 1000);
  EXPECT_EQ(h, 500);
  EXPECT_FLOAT_EQ(driver_get_aspect(), 2.0f);
  EXPECT_FLOAT_EQ(driver_get_scale(), 1.5f);
  EXPECT_FLOAT_EQ(driver_get_orient(), 90.0f);

  std::string caption = "Zentar 2";
  driver_set_caption(caption.c_str());
  caption[0] = 'X';  // the driver keeps its own copy
  EXPECT_STREQ(driver_get_caption(), "Zentar 2");
  driver_set_caption(std::string(300, 'c').c_str());
  EXPECT_EQ(std::string(driver_get_caption()), std::string(255, 'c'));
  driver_set_icon(std::string(600, 'i').c_str());
  EXPECT_EQ(strlen(driver_get_icon()), 511u);
  driver_set_idiom("desktop");
  EXPECT_STREQ(driver_get_idiom(), "desktop");
  EXPECT_STREQ(driver_get_tmpdir(), "/tmp");
  EXPECT_STREQ(driver_get_osinfo(), "Linux");

  // A second init starts from scratch.
  driver_init(0);
  EXPECT_STREQ(driver_get_caption(), "");
  driver_deinit();
  EXPECT_STREQ(driver_get_caption(), "");  // safe outside init/deinit
  Event e;
  memset(&e, 0x5a, sizeof(e));
  EXPECT_EQ(driver_event_poll(&e), 0);
}

TEST_F(DriverTest, HomeDirectory) {
  EXPECT_EQ(std::string(driver_get_home_dir()), home.string());
  unsetenv("HOME");
  EXPECT_STREQ(driver_get_home_dir(), "");
  // The document directory falls back to the password database, else ".".
  struct passwd* pw = getpwuid(getuid());
  std::string expect = (pw && pw->pw_dir && *pw->pw_dir) ? pw->pw_dir : ".";
  EXPECT_EQ(std::string(_driver_doc_home()), expect);
  setenv("HOME", "", 1);
  EXPECT_EQ(std::string(_driver_doc_home()), expect);
}

// ---- directories -------------------------------------------------------------

TEST_F(DriverTest, DocumentDirectoryIsCreatedOnDemand) {
  mode_t old_mask = umask(022);
  driver_init(DRIVER_LOG | DRIVER_TIMER);
  // No game name: the working directory, nothing created.
  EXPECT_STREQ(driver_doc_fname("a.dat"), "./a.dat");
  EXPECT_FALSE(fs::exists(home / ".local"));

  driver_set_gamename("Zentar 2");
  EXPECT_FALSE(fs::exists(home / ".local"));
  std::string path = driver_doc_fname("settings-local.dat");
  EXPECT_EQ(path, (docdir("Zentar 2") / "settings-local.dat").string());
  EXPECT_TRUE(fs::is_directory(docdir("Zentar 2")));
  // The folders it makes are the player's alone; one that exists keeps its mode.
  EXPECT_EQ(mode_of(home / ".local"), 0700u);
  EXPECT_EQ(mode_of(home / ".local/share"), 0700u);
  EXPECT_EQ(mode_of(docdir("Zentar 2")), 0700u);
  chmod((home / ".local/share").c_str(), 0755);
  driver_set_gamename("Other");
  driver_doc_fname("x");
  EXPECT_EQ(mode_of(home / ".local/share"), 0755u);
  EXPECT_EQ(mode_of(docdir("Other")), 0700u);
  umask(old_mask);

  // Over-long names give no path at all rather than a cut one.
  std::string shown = stdout_of([] { EXPECT_STREQ(driver_doc_fname(std::string(600, 'n').c_str()), ""); });
  EXPECT_NE(shown.find("path too long"), std::string::npos);
  EXPECT_EQ(driver_doc_save(std::string(600, 'n').c_str(), "x", 1), 0);
}

TEST_F(DriverTest, InitAndDeinitWithoutGameNameTouchNothing) {
  driver_init(DRIVER_LOG | DRIVER_TIMER);
  driver_log_printf("a line\n");
  driver_deinit();
  EXPECT_TRUE(fs::is_empty(home));
}

TEST_F(DriverTest, DataLookupTriesAlternativeDirectoryFirst) {
  fs::create_directories(root / "alt");
  fs::create_directories(root / "data");
  fs::create_directories(root / "bin");
  spit(root / "alt/both.txt", "from alt");
  spit(root / "data/both.txt", "from data");
  spit(root / "data/only.txt", "only data");

  fs::path cwd = fs::current_path();
  fs::current_path(root / "bin");
  driver_init(DRIVER_TIMER);
  EXPECT_STREQ(driver_data_fname("both.txt"), "../data/both.txt");
  EXPECT_EQ(driver_data_load("both.txt"), "from data");

  driver_set_altdir((root / "alt").c_str());
  EXPECT_EQ(std::string(driver_data_fname("both.txt")), (root / "alt/both.txt").string());
  EXPECT_EQ(driver_data_load("both.txt"), "from alt");
  EXPECT_STREQ(driver_data_fname("only.txt"), "../data/only.txt");
  EXPECT_EQ(driver_data_load("only.txt"), "only data");
  EXPECT_STREQ(driver_data_fname("missing.txt"), "../data/missing.txt");
  EXPECT_EQ(driver_data_exists("only.txt"), 1);
  EXPECT_EQ(driver_data_exists("missing.txt"), 0);
  EXPECT_EQ(driver_data_fsize("both.txt"), 8);
  char buf[4];
  EXPECT_EQ(driver_data_load("both.txt", buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "from");

  driver_set_altdir("");
  EXPECT_STREQ(driver_data_fname("both.txt"), "../data/both.txt");
  driver_set_altdir((root / "alt").c_str());
  driver_set_altdir(nullptr);
  EXPECT_STREQ(driver_data_fname("both.txt"), "../data/both.txt");

  // The build switches' debug mode swaps the data directory.
  g_debug = true;
  driver_init(DRIVER_TIMER);
  EXPECT_STREQ(driver_data_fname("x.png"), "../data-debug/x.png");
  fs::current_path(cwd);
}

// ---- files -------------------------------------------------------------------

TEST_F(DriverTest, LoadMissingEmptyAndShortReads) {
  int fds = open_fds();
  std::string missing = (root / "nope.bin").string();
  int len = 99;
  std::string shown = stdout_of([&] {
    EXPECT_EQ(driver_file_alloc(missing.c_str(), &len), nullptr);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(driver_file_load(missing.c_str()), "");
    char b[4];
    EXPECT_EQ(driver_file_load(missing.c_str(), b, 4), 0);
  });
  EXPECT_NE(shown.find("file not found: " + missing + "\n"), std::string::npos);
  EXPECT_EQ(driver_file_exists(missing.c_str()), 0);
  EXPECT_EQ(driver_file_fsize(missing.c_str()), 0);
  EXPECT_EQ(driver_file_mtime(missing.c_str()), 0);

  fs::path empty = root / "empty.bin";
  spit(empty, "");
  shown = stdout_of([&] {
    len = 99;
    EXPECT_EQ(driver_file_alloc(empty.c_str(), &len), nullptr);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(driver_file_load(empty.c_str()), "");
  });
  EXPECT_EQ(shown, "");  // an empty file is not a missing one
  EXPECT_EQ(driver_file_exists(empty.c_str()), 1);

  fs::path ten = root / "ten.bin";
  spit(ten, "0123456789");
  char buf[8];
  memset(buf, '#', sizeof(buf));
  EXPECT_EQ(driver_file_load(ten.c_str(), buf, 4), 4);
  EXPECT_EQ(std::string(buf, 8), "0123####");  // no terminator added
  char whole[32];
  EXPECT_EQ(driver_file_load(ten.c_str(), whole, sizeof(whole)), 10);
  EXPECT_EQ(driver_file_load(ten.c_str(), whole, 0), 0);
  EXPECT_EQ(driver_file_load(ten.c_str(), whole, -5), 0);
  EXPECT_EQ(driver_file_fsize(ten.c_str()), 10);

  struct timeval times[2] = {{1234567890, 0}, {1234567890, 0}};
  ASSERT_EQ(utimes(ten.c_str(), times), 0);
  EXPECT_EQ(driver_file_mtime(ten.c_str()), 1234567890);

  // Only regular files are read: a FIFO in a file's place would hold the
  // reader until something writes to it, a directory reads as nothing.
  fs::path fifo = root / "fifo.bin", dir = root / "dir.bin";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fs::create_directory(dir);
  {
    // Held open at both ends here, so that a reader that opens it anyway
    // returns instead of waiting for the test's time limit.
    int held = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(held, 0);
    ASSERT_EQ(write(held, "abc", 3), 3);
    for (const fs::path& p : {fifo, dir}) {
      shown = stdout_of([&] {
        EXPECT_EQ(driver_file_exists(p.c_str()), 0) << p;
        EXPECT_EQ(driver_file_load(p.c_str()), "") << p;
        EXPECT_EQ(driver_file_load(p.c_str(), buf, 4), 0) << p;
      });
      EXPECT_NE(shown.find("not a regular file, not read: " + p.string() + "\n"), std::string::npos) << shown;
      EXPECT_EQ(shown.find("file not found"), std::string::npos) << shown;
    }
    close(held);
  }
  // With nobody at the other end, nothing waits either (a reader that opens
  // it would: so only when the above held).
  ASSERT_FALSE(HasFailure());
  EXPECT_EQ(driver_file_exists(fifo.c_str()), 0);
  EXPECT_EQ(driver_file_load(fifo.c_str()), "");

  EXPECT_EQ(open_fds(), fds);  // every opened file was closed
}

TEST_F(DriverTest, WholeFileLoadKeepsBinaryAndLargeContent) {
  std::string bin("a\0b\0\0c", 6);
  spit(root / "bin.dat", bin);
  EXPECT_EQ(driver_file_load((root / "bin.dat").c_str()), bin);

  std::string big(3 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < big.size(); i++) big[i] = static_cast<char>(i * 131 + 7);
  spit(root / "big.dat", big);
  int len = 0;
  void* block = driver_file_alloc((root / "big.dat").c_str(), &len);
  ASSERT_NE(block, nullptr);
  ASSERT_EQ(len, static_cast<int>(big.size()));
  EXPECT_EQ(memcmp(block, big.data(), big.size()), 0);
  free(block);
  EXPECT_EQ(driver_file_load((root / "big.dat").c_str()), big);

  // Far past any real asset (sparse, so it takes no disk): refused before
  // a byte is read, instead of a long freeze and memory to match.
  fs::path huge = root / "huge.dat";
  spit(huge, "x");
  fs::resize_file(huge, static_cast<uintmax_t>(DRIVER_FILE_MAX) + 1);
  len = 7;
  std::string shown = stdout_of([&] {
    EXPECT_EQ(driver_file_alloc(huge.c_str(), &len), nullptr);
    EXPECT_EQ(driver_file_load(huge.c_str()), "");
  });
  EXPECT_EQ(len, 0);
  EXPECT_NE(shown.find("file too large: " + huge.string() + "\n"), std::string::npos) << shown;
}

TEST_F(DriverTest, SaveReplacesTheFileWhole) {
  fs::path target = root / "save.dat";
  spit(target, std::string(5000, 'o'));  // longer than the new content
  std::string data("new\0data", 8);
  EXPECT_EQ(driver_file_save(target.c_str(), data.data(), static_cast<int>(data.size())), 1);
  EXPECT_EQ(slurp(target), data);
  EXPECT_EQ(driver_file_save(target.c_str(), "", 0), 1);
  EXPECT_EQ(slurp(target), "");
  EXPECT_TRUE(fs::exists(target));

  std::string big(2 * 1024 * 1024, 'b');
  EXPECT_EQ(driver_file_save(target.c_str(), big.data(), static_cast<int>(big.size())), 1);
  EXPECT_EQ(slurp(target), big);

  // No temporary file is left beside it.
  EXPECT_EQ(entries_of(root), 2);  // home/ and save.dat

  // What the game writes is the player's alone: a new file is 0600 whatever
  // the umask, one an earlier build left open to others is closed to them,
  // and the owner's own bits stay.
  mode_t old_mask = umask(022);
  fs::path fresh = root / "fresh.dat";
  EXPECT_EQ(driver_file_save(fresh.c_str(), "x", 1), 1);
  EXPECT_EQ(mode_of(fresh), 0600u);
  chmod(target.c_str(), 0644);
  EXPECT_EQ(driver_file_save(target.c_str(), "x", 1), 1);
  EXPECT_EQ(mode_of(target), 0600u);
  chmod(target.c_str(), 0400);
  EXPECT_EQ(driver_file_save(target.c_str(), "x", 1), 1);
  EXPECT_EQ(mode_of(target), 0400u);
  umask(old_mask);

  // A symlink stays a link; what it points to is replaced, in the mode the
  // player gave it.
  fs::path link = root / "link.dat";
  fs::create_symlink(target, link);
  chmod(target.c_str(), 0644);
  EXPECT_EQ(driver_file_save(link.c_str(), "via link", 8), 1);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(slurp(target), "via link");
  EXPECT_EQ(mode_of(target), 0644u);
}

TEST_F(DriverTest, FailedSaveLogsAndLeavesTheOldContent) {
  std::string nodir = (root / "no/such/dir/f.dat").string();
  std::string shown = stdout_of([&] { EXPECT_EQ(driver_file_save(nodir.c_str(), "abc", 3), 0); });
  EXPECT_NE(shown.find("file not writable: " + nodir + " (No such file or directory)\n"), std::string::npos) << shown;
  EXPECT_FALSE(fs::exists(root / "no"));

  // A directory in the way: the rename fails and nothing is lost or left over.
  fs::path blocked = root / "blocked";
  fs::create_directories(blocked);
  spit(blocked / "inner.txt", "keep");
  shown = stdout_of([&] { EXPECT_EQ(driver_file_save(blocked.c_str(), "abc", 3), 0); });
  EXPECT_NE(shown.find("file not writable: " + blocked.string() + " (Is a directory)\n"), std::string::npos) << shown;
  EXPECT_EQ(slurp(blocked / "inner.txt"), "keep");
  EXPECT_EQ(entries_of(root), 2);  // home/ and blocked/

  EXPECT_EQ(driver_file_save((root / "neg.dat").c_str(), "abc", -1), 0);
  EXPECT_EQ(driver_file_save((root / "null.dat").c_str(), nullptr, 3), 0);
  EXPECT_FALSE(fs::exists(root / "neg.dat"));
}

TEST_F(DriverTest, DocumentFilesRoundTrip) {
  start_named(DRIVER_TIMER);
  EXPECT_EQ(driver_doc_exists("settings-cloud.dat"), 0);
  std::string image(4268, '\0');
  for (size_t i = 0; i < image.size(); i++) image[i] = static_cast<char>(i);
  EXPECT_EQ(driver_doc_save("settings-cloud.dat", image.data(), static_cast<int>(image.size())), 1);
  EXPECT_EQ(slurp(docdir("Zentar 2") / "settings-cloud.dat"), image);
  EXPECT_EQ(driver_doc_exists("settings-cloud.dat"), 1);
  EXPECT_EQ(driver_doc_fsize("settings-cloud.dat"), 4268);
  EXPECT_EQ(driver_doc_load("settings-cloud.dat"), image);
  std::string part(1048, 'x');
  EXPECT_EQ(driver_doc_load("settings-cloud.dat", part.data(), 1048), 1048);
  EXPECT_EQ(part, image.substr(0, 1048));
}

TEST_F(DriverTest, SweepRemovesOnlyTheSavesOfProcessesThatAreGone) {
  start_named(DRIVER_TIMER);
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_GT(gone, 0);
  waitpid(gone, nullptr, 0);
  fs::path dir = docdir("Zentar 2");
  fs::create_directories(dir);
  std::string dead = ".ruvezor-save-" + std::to_string(gone) + ".tmp";
  std::string alive = ".ruvezor-save-" + std::to_string(getppid()) + ".tmp";
  for (const std::string& n : {dead, alive, std::string(".ruvezor-save-x1.tmp"), std::string("settings.dat")})
    spit(dir / n, "x");
  int removed = 0;
  std::string out = stdout_of([&] { removed = driver_doc_sweep_saves(); });
  EXPECT_EQ(removed, 1) << out;
  EXPECT_FALSE(fs::exists(dir / dead));
  for (const char* n : {".ruvezor-save-x1.tmp", "settings.dat"}) EXPECT_TRUE(fs::exists(dir / n)) << n;
  EXPECT_TRUE(fs::exists(dir / alive));
}

// ---- log file ----------------------------------------------------------------

TEST_F(DriverTest, BacklogIsReplayedInOrderOnceTheFileOpens) {
  fs::path log = log_path();
  driver_log_printf("before init %d\n", 1);
  std::string via_log = stdout_of([] { qel_log("through the log function\n"); });
  EXPECT_EQ(via_log.rfind("[-1][", 0), 0u);  // engine's own tag without a game
  driver_init(DRIVER_LOG | DRIVER_TIMER);
  driver_log_printf("before name\n");
  driver_set_gamename("Zentar 2");
  EXPECT_FALSE(fs::exists(log));  // setting the name opens nothing yet
  driver_log_printf("first after name\n");
  // In the file as soon as it is written, not when the file closes.
  EXPECT_EQ(slurp(log), "[_driver_log_init]\nbefore init 1\n" + via_log + "before name\nfirst after name\n");
  driver_log_printf("%s", "second");
  driver_log_printf("\n");
  driver_deinit();
  driver_log_printf("after deinit\n");  // waits for the next file

  EXPECT_EQ(slurp(log), "[_driver_log_init]\nbefore init 1\n" + via_log +
                            "before name\nfirst after name\nsecond\n\n[_driver_log_deinit]\n");
}

TEST_F(DriverTest, RestartingTheLogClosesAndTruncates) {
  driver_init(DRIVER_LOG);
  driver_set_gamename("A");
  driver_log_printf("into A\n");
  fs::create_directories(docdir("B"));
  spit(docdir("B") / "ruvezor.log", "stale content\n");
  driver_set_gamename("B");
  _driver_log_init();
  driver_log_printf("into B\n");
  EXPECT_EQ(slurp(docdir("A") / "ruvezor.log"), "[_driver_log_init]\ninto A\n\n[_driver_log_deinit]\n");

  // driver_init's log step closes the open file and opens none (no name yet).
  driver_init(DRIVER_LOG);
  driver_log_printf("waiting\n");
  EXPECT_EQ(slurp(docdir("B") / "ruvezor.log"), "[_driver_log_init]\ninto B\n\n[_driver_log_deinit]\n");
  _driver_log_deinit();  // nothing open: harmless
}

// Two hosts run from one home (a galaxy host and its match host): the one
// that starts second keeps the first one's lines, and both go on writing.
TEST_F(DriverTest, ALogAnotherRunningGameWritesIsKept) {
  fs::path log = log_path();
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    start_named();
    driver_log_printf("first host\n");
    char c = 1;
    if (write(ready[1], &c, 1) != 1) _exit(1);
    if (read(done[0], &c, 1) != 1) _exit(1);
    driver_log_printf("first host again\n");
    _driver_log_deinit();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  start_named();
  driver_log_printf("second host\n");
  ASSERT_EQ(write(done[1], &c, 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  driver_deinit();
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);

  EXPECT_EQ(slurp(log),
            "[_driver_log_init]\nfirst host\n[_driver_log_init]\nsecond host\nfirst host again\n\n"
            "[_driver_log_deinit]\n\n[_driver_log_deinit]\n");

  // Once both are gone, the next run starts the file afresh.
  expect_a_new_run_starts_afresh();
}

TEST_F(DriverTest, BacklogKeepsTheNewestLinesWithinItsCap) {
  const int lines = 3000;
  std::string pad(1000, '.');
  for (int i = 0; i < lines; i++) driver_log_printf("%05d%s\n", i, pad.c_str());
  start_named();
  driver_log_printf("last\n");
  driver_deinit();

  std::string file = slurp(docdir("Zentar 2") / "ruvezor.log");
  std::string head = "[_driver_log_init]\n";
  std::string tail = "last\n\n[_driver_log_deinit]\n";
  ASSERT_EQ(file.rfind(head, 0), 0u);
  ASSERT_EQ(file.substr(file.size() - tail.size()), tail);
  std::string body = file.substr(head.size(), file.size() - head.size() - tail.size());
  EXPECT_LE(body.size(), _driver_log_backlog_cap);
  EXPECT_GT(body.size(), _driver_log_backlog_cap - 2 * (pad.size() + 6));
  // Consecutive numbers ending with the newest line.
  std::istringstream in(body);
  std::string line;
  int prev = -1;
  while (std::getline(in, line)) {
    ASSERT_EQ(line.size(), pad.size() + 5);
    int n = std::stoi(line.substr(0, 5));
    if (prev >= 0) {
      EXPECT_EQ(n, prev + 1);
    }
    prev = n;
  }
  EXPECT_EQ(prev, lines - 1);
}

// A host left running for days: the file stops at its cap with one line
// that says so; the lines after it still reach standard output.
TEST_F(DriverTest, LogFileStopsAtItsCapAndSaysSo) {
  fs::path log = log_path();
  _driver_log_set_file_cap(4096);
  start_named();
  std::string pad(100, '.');
  for (int i = 0; i < 100; i++) driver_log_printf("%03d%s\n", i, pad.c_str());
  std::string later = stdout_of([] { qel_log("still on standard output\n"); });
  std::string full = slurp(log);
  // The operator cuts the full file: lines go into it again.
  fs::resize_file(log, 0);
  driver_log_printf("after the cut\n");
  EXPECT_EQ(slurp(log), "after the cut\n");
  driver_deinit();
  _driver_log_set_file_cap(0);

  std::string head = "[_driver_log_init]\n";
  std::string tail = "log file full at 4096 bytes: later lines go only to standard output\n";
  ASSERT_GT(full.size(), head.size() + tail.size());
  EXPECT_EQ(full.rfind(head, 0), 0u);
  EXPECT_EQ(full.substr(full.size() - tail.size()), tail);
  std::string body = full.substr(head.size(), full.size() - head.size() - tail.size());
  EXPECT_LE(head.size() + body.size(), 4096u);
  EXPECT_EQ(body.size(), (4096 - head.size()) / (pad.size() + 4) * (pad.size() + 4));  // whole lines only
  EXPECT_NE(later.find("still on standard output"), std::string::npos);

  expect_a_new_run_starts_afresh();
}

// An operator's log collector reads a FIFO put in the log's place: when it
// is not running, the program must not wait for it at its first line, and
// when it stops reading, not at a later one.
TEST_F(DriverTest, ALogFifoWithoutReaderDoesNotHoldTheGame) {
  fs::create_directories(docdir("Zentar 2"));
  fs::path fifo = docdir("Zentar 2") / "ruvezor.log";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(180);  // only a hang gets this far
    start_named();
    driver_log_printf("nobody reads this\n");
    driver_deinit();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  // The collector opens it and then reads nothing while the game writes
  // several times what the pipe holds: every log call returns, and once the
  // collector reads again, one line says how many it missed.
  int rd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(rd, 0);
  int told[2], go[2];
  ASSERT_EQ(pipe(told), 0);
  ASSERT_EQ(pipe(go), 0);
  const int lines = 400;
  std::string pad(1000, '.');
  child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(180);  // the same
    close(told[0]);
    close(go[1]);
    start_named();
    int returned = 0;
    for (int i = 0; i < lines; i++, returned++) driver_log_printf("%03d%s\n", i, pad.c_str());
    if (write(told[1], &returned, sizeof(returned)) != sizeof(returned)) _exit(2);
    char c;
    if (read(go[0], &c, 1) != 1) _exit(3);  // the collector has read what was there
    driver_log_printf("after\n");
    driver_deinit();
    _exit(0);
  }
  close(told[1]);
  close(go[0]);
  int returned = 0;
  EXPECT_EQ(read(told[0], &returned, sizeof(returned)), (ssize_t)sizeof(returned));
  EXPECT_EQ(returned, lines);
  std::string got;
  char buf[4096];
  for (ssize_t n; (n = read(rd, buf, sizeof(buf))) > 0;) got.append(buf, (size_t)n);
  EXPECT_EQ(write(go[1], "x", 1), 1);
  fcntl(rd, F_SETFL, fcntl(rd, F_GETFL) & ~O_NONBLOCK);
  for (ssize_t n; (n = read(rd, buf, sizeof(buf))) > 0;) got.append(buf, (size_t)n);
  close(rd);
  close(told[0]);
  close(go[1]);
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  std::string tail = " log lines were not written here: the log file was not read; standard output has them]\n"
                     "after\n\n[_driver_log_deinit]\n";
  size_t at = got.rfind(tail);
  ASSERT_NE(at, std::string::npos) << got.substr(got.size() > 300 ? got.size() - 300 : 0);
  EXPECT_EQ(at + tail.size(), got.size());
  size_t open_bracket = got.rfind('[', at);
  ASSERT_NE(open_bracket, std::string::npos);
  int missed = std::atoi(got.c_str() + open_bracket + 1);
  // The lines that got in come first, whole and in order; with the missed
  // ones they are all the lines written.
  EXPECT_EQ(got.rfind("[_driver_log_init]\n", 0), 0u);
  std::istringstream in(got.substr(0, open_bracket));
  std::string line;
  int whole = 0;
  while (std::getline(in, line))
    if (line.size() == pad.size() + 3 && line.substr(3) == pad && std::atoi(line.c_str()) == whole) whole++;
  EXPECT_GT(whole, 0);
  EXPECT_GT(missed, 0);
  EXPECT_EQ(whole + missed, lines) << whole << " + " << missed;
}

// A full disk under a running host: standard output says once that the
// file misses lines, and the file says where once lines get in again.
TEST_F(DriverTest, AFullDiskIsToldOnceAndMarkedInTheFile) {
  fs::path log = log_path();
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(180);  // the same
    dup2(out[1], STDOUT_FILENO);
    signal(SIGXFSZ, SIG_IGN);  // past the limit a write fails with EFBIG, as on a full disk
    start_named();
    driver_log_printf("before\n");
    struct rlimit full = {static_cast<rlim_t>(fs::file_size(log)), RLIM_INFINITY};
    if (setrlimit(RLIMIT_FSIZE, &full) != 0) _exit(2);
    for (int i = 0; i < 3; i++) qel_log("lost %d\n", i);
    full.rlim_cur = RLIM_INFINITY;
    setrlimit(RLIMIT_FSIZE, &full);
    qel_log("back\n");
    driver_deinit();
    _exit(0);
  }
  close(out[1]);
  std::string said;
  char buf[4096];
  for (ssize_t n; (n = read(out[0], buf, sizeof(buf))) > 0;) said.append(buf, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  std::string note = log.string() + " cannot be written (File too large): lines go only to standard output";
  EXPECT_EQ(z2test::count_of(said, note), 1) << said;
  EXPECT_NE(said.find("lost 2"), std::string::npos);
  std::string file = slurp(log);
  EXPECT_EQ(file.find("lost"), std::string::npos) << file;
  EXPECT_NE(file.find("before\n[log lines are missing here: the file could not be written]\n"), std::string::npos)
      << file;
  EXPECT_NE(file.find("back\n"), std::string::npos) << file;
}

TEST_F(DriverTest, UnopenableLogIsNotRetriedOnEveryLine) {
  fs::path bad_home = root / "home-is-a-file";
  spit(bad_home, "");
  setenv("HOME", bad_home.c_str(), 1);
  start_named();
  driver_log_printf("x\n");

  // The operator hears once why there is no file.
  EXPECT_NE(driver_log_trouble().find("ruvezor.log cannot be opened (Not a directory)"), std::string::npos);
  EXPECT_EQ(driver_log_trouble(), "");

  setenv("HOME", home.c_str(), 1);
  driver_log_printf("y\n");
  EXPECT_FALSE(fs::exists(home / ".local"));  // no new attempt per line

  driver_set_gamename("Zentar 2");  // a new name is worth a new attempt
  driver_log_printf("z\n");
  driver_deinit();
  EXPECT_EQ(slurp(docdir("Zentar 2") / "ruvezor.log"), "[_driver_log_init]\nx\ny\nz\n\n[_driver_log_deinit]\n");
}

// ---- clock -------------------------------------------------------------------

TEST_F(DriverTest, TicksCountMillisecondsAndWrap) {
  g_fake_us = 5'000'000'123;
  _driver_timer_set_source(fake_clock);
  driver_timer_reset_ticks();
  EXPECT_EQ(driver_timer_get_ticks(), 0);
  g_fake_us += 999;
  EXPECT_EQ(driver_timer_get_ticks(), 0);  // truncated toward zero
  g_fake_us += 1;
  EXPECT_EQ(driver_timer_get_ticks(), 1);
  g_fake_us += 1'234'000;
  EXPECT_EQ(driver_timer_get_ticks(), 1235);
  EXPECT_EQ(zt_get_ticks(), 1235);  // one clock, two names

  // Past 2^31 ms the count wraps instead of overflowing.
  uint64_t origin = 5'000'000'123;
  g_fake_us = origin + ((1ull << 31) + 5) * 1000;
  EXPECT_EQ(driver_timer_get_ticks(), INT_MIN + 5);
  g_fake_us = origin + ((1ull << 32) + 7) * 1000;
  EXPECT_EQ(driver_timer_get_ticks(), 7);

  zt_timer_reset();
  EXPECT_EQ(driver_timer_get_ticks(), 0);
  g_fake_us += 86'400'000'000ull;  // a day
  EXPECT_EQ(driver_timer_get_ticks(), 86'400'000);

  // The real source is monotonic and counts about 1000 per second.
  _driver_timer_set_source(nullptr);
  driver_timer_reset_ticks();
  int t0 = driver_timer_get_ticks();
  EXPECT_GE(t0, 0);
  EXPECT_LE(t0, 5);
  driver_timer_delay(30);
  int t1 = driver_timer_get_ticks();
  EXPECT_GE(t1, 30);
  EXPECT_LT(t1, 5000);
}

TEST_F(DriverTest, FrameTickHandsOutDueFrames) {
  g_fake_us = 1'000'000;
  _driver_timer_set_source(fake_clock);
  driver_init(DRIVER_TIMER);
  EXPECT_EQ(driver_timer_tick(), 0);  // off while the rate is 0
  driver_timer_set(60);
  EXPECT_EQ(driver_timer_tick(), 0);  // first call records the start
  g_fake_us += 10'000;
  EXPECT_EQ(driver_timer_tick(), 1);
  g_fake_us += 6'000;  // 16 ms: frame 1 ends at 16.67 ms
  EXPECT_EQ(driver_timer_tick(), 0);
  g_fake_us += 1'000;  // 17 ms
  EXPECT_EQ(driver_timer_tick(), 1);
  g_fake_us += 1'000'000;  // 1017 ms: 61.02 frames due, 2 given
  EXPECT_EQ(driver_timer_tick(), 60);
  EXPECT_EQ(driver_timer_tick(), 0);

  // A clock reset starts counting afresh instead of stalling.
  driver_timer_reset_ticks();
  EXPECT_EQ(driver_timer_tick(), 0);
  g_fake_us += 20'000;
  EXPECT_EQ(driver_timer_tick(), 2);

  driver_timer_set(0);
  g_fake_us += 1'000'000;
  EXPECT_EQ(driver_timer_tick(), 0);
}

// ---- opening URLs --------------------------------------------------------------

TEST_F(DriverTest, OpenUrlPassesTheAddressAsOneArgumentWithoutAShell) {
  fs::path bin = root / "bin";
  fs::create_directories(bin);
  fs::path out = root / "args.txt";
  {
    std::ofstream s(bin / "xdg-open");
    s << "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$1\" > '" << (root / "args.tmp").string() << "'\n/bin/mv '"
      << (root / "args.tmp").string() << "' '" << out.string() << "'\n";
  }
  fs::permissions(bin / "xdg-open", fs::perms::owner_all);
  setenv("PATH", bin.c_str(), 1);

  fs::path cwd = fs::current_path();
  fs::current_path(root);
  std::string url = "https://example.com/a b?x=1&y=\"$(touch pwned1)\"; touch pwned2 `touch pwned3` 'q'";
  std::string shown = stdout_of([&] { driver_open_url(url.c_str()); });
  EXPECT_NE(shown.find("Driver::weblink: " + url + "\n"), std::string::npos);

  for (int i = 0; i < 500 && !fs::exists(out); i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(fs::exists(out));
  // The opener answered 0: the launcher is reaped without a word; the browser
  // runs on its own. (Children are counted without reaping one: that is the
  // driver's to do.)
  auto no_child = [] {
    siginfo_t info{};
    errno = 0;
    return waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == -1 && errno == ECHILD;
  };
  auto reaped = [&] {
    for (int i = 0; i < 500; i++) {
      std::string failed = driver_open_url_failed();
      if (!failed.empty()) return failed;
      if (no_child()) return std::string();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::string("still waiting");
  };
  EXPECT_EQ(reaped(), "");
  EXPECT_EQ(slurp(out), "1\n" + url + "\n");
  EXPECT_FALSE(fs::exists(root / "pwned1"));
  EXPECT_FALSE(fs::exists(root / "pwned2"));
  EXPECT_FALSE(fs::exists(root / "pwned3"));

  // Something that would read as an option, or another scheme, is not started at all.
  fs::remove(out);
  shown = stdout_of([] { driver_open_url("--help"); });
  EXPECT_NE(shown.find("Driver::weblink: --help\n"), std::string::npos);
  for (const char* other : {"file:///etc/passwd", "javascript:alert(1)", "ftp://example.com/", "httpx://a"}) {
    shown = stdout_of([&] { driver_open_url(other); });
    EXPECT_NE(shown.find("Driver::weblink: refused, not an http or https address\n"), std::string::npos) << other;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(fs::exists(out));

  // No browser: an opener that fails, or none at all. The game hears of
  // each address once, without waiting for it.
  {
    std::ofstream f(bin / "xdg-open");
    f << "#!/bin/sh\nexit 3\n";
  }
  shown = stdout_of([] { driver_open_url("https://example.com/forums"); });
  EXPECT_EQ(reaped(), "https://example.com/forums");
  fs::remove(bin / "xdg-open");
  shown = stdout_of([] { driver_open_url("https://example.com/review"); });
  std::string failed = reaped();
  EXPECT_EQ(failed, "https://example.com/review");
  EXPECT_EQ(reaped(), "") << "told once";
  fs::current_path(cwd);
}

}  // namespace
