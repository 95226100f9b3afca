// HTTP client against a scripted server of our own on 127.0.0.1.
#include "ruvezor/util/qel_web.h"
#include "z2_test_util.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

// One scripted answer: pieces sent with a pause before each, then either a
// close, an abortive close (RST), or holding the connection open.
struct Piece {
  std::string data;
  int delay_ms = 0;
};

class TinyServer {
 public:
  enum End { CLOSE, RESET, HOLD };

  TinyServer(std::vector<Piece> pieces, End end = CLOSE, bool read_request = true)
      : pieces_(std::move(pieces)), end_(end), read_request_(read_request) {
    lfd_ = z2test::bind_loopback(SOCK_STREAM, port_);
    listen(lfd_, 4);
    thread_ = std::thread([this] { run(); });
  }
  ~TinyServer() {
    stop_ = true;
    thread_.join();
    close(lfd_);
  }
  int port() const { return port_; }
  std::string request() {
    while (!got_request_) std::this_thread::sleep_for(1ms);
    return request_;
  }

 private:
  bool wait_readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
  }
  void run() {
    while (!stop_ && !wait_readable(lfd_, 20)) {}
    if (stop_) return;
    int fd = accept(lfd_, nullptr, nullptr);
    if (fd < 0) return;
    if (read_request_) read_whole_request(fd);
    got_request_ = true;
    for (auto& p : pieces_) {
      if (p.delay_ms) std::this_thread::sleep_for(std::chrono::milliseconds(p.delay_ms));
      size_t off = 0;
      while (off < p.data.size()) {
        ssize_t n = send(fd, p.data.data() + off, p.data.size() - off, MSG_NOSIGNAL);
        if (n <= 0) break;
        off += (size_t)n;
      }
    }
    if (end_ == HOLD) {
      while (!stop_) std::this_thread::sleep_for(5ms);
    } else if (end_ == RESET) {
      linger lg{1, 0};
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
    }
    close(fd);
  }
  // Head up to the blank line, then Content-Length bytes of body.
  void read_whole_request(int fd) {
    std::string r;
    char buf[4096];
    size_t want = std::string::npos;
    while (!stop_ && (want == std::string::npos || r.size() < want)) {
      if (!wait_readable(fd, 20)) continue;
      ssize_t n = recv(fd, buf, sizeof(buf), 0);
      if (n <= 0) break;
      r.append(buf, (size_t)n);
      size_t e = r.find("\r\n\r\n");
      if (e != std::string::npos && want == std::string::npos) {
        size_t cl = r.find("Content-Length: ");
        want = e + 4 + (cl != std::string::npos && cl < e ? std::stoul(r.substr(cl + 16)) : 0);
      }
    }
    request_ = r;
  }

  std::vector<Piece> pieces_;
  End end_;
  bool read_request_;
  int lfd_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> got_request_{false};
  std::string request_;
};

// Polls until finished (or a generous bound), like the frame loop would.
int run_to_end(WebHandle* h, std::vector<int>* body_lens = nullptr, int max_ms = z2test::kHangMs) {
  auto t0 = std::chrono::steady_clock::now();
  for (;;) {
    int done = qel_web_poll(h);
    if (body_lens && (body_lens->empty() || body_lens->back() != h->body_len))
      body_lens->push_back(h->body_len);
    if (done) return 1;
    if (std::chrono::steady_clock::now() - t0 > std::chrono::milliseconds(max_ms)) return 0;
    std::this_thread::sleep_for(2ms);
  }
}

std::string header(WebHandle* h, const char* name, int size = 256) {
  std::vector<char> out(size > 0 ? size : 1, 'Z');
  qel_web_get_header(h, out.data(), size, name);
  return std::string(out.data());
}

std::string body(WebHandle* h) { return h->body ? std::string(h->body, h->body_len) : ""; }

}  // namespace

TEST(QelWeb, GetSendsRequestLineAndReadsStatusHeadersAndBody) {
  TinyServer srv({{"HTTP/1.0 200 OK\r\nX-Response: OK\r\nx-type: lower\r\nX-Type:   login\r\n"
                   "X-Empty:\r\n\r\nhello world"}});
  qel_web_init();
  WebHandle* h = qel_web_create("127.0.0.1", srv.port(), "/z2/api.php?a=1&b=2", nullptr, 0, 5);
  ASSERT_EQ(h->error, 0);
  EXPECT_EQ(h->state, 1);
  ASSERT_EQ(run_to_end(h), 1);
  EXPECT_EQ(srv.request(), "GET /z2/api.php?a=1&b=2 HTTP/1.0\r\nHost: 127.0.0.1:" +
                               std::to_string(srv.port()) + "\r\n\r\n");
  EXPECT_EQ(h->error, 0);
  EXPECT_EQ(h->state, 4);
  EXPECT_EQ(qel_web_get_status(h), 200);
  EXPECT_EQ(header(h, "X-Response"), "OK");
  // Case-sensitive: the lowercase line is skipped, blanks after the colon too.
  EXPECT_EQ(header(h, "X-Type"), "login");
  EXPECT_EQ(header(h, "X-Empty"), "");
  EXPECT_EQ(header(h, "X-Missing"), "");
  EXPECT_EQ(header(h, "X-Type", 4), "log");
  EXPECT_EQ(header(h, "X-Type", 1), "");
  EXPECT_EQ(body(h), "hello world");
  EXPECT_EQ(h->body[h->body_len], 0);
  qel_web_destroy(h);
  qel_web_deinit();
}

TEST(QelWeb, PostCarriesFormHeadersAndExactBodyBytes) {
  TinyServer srv({{"HTTP/1.0 201 Created\r\n\r\n"}});
  const char form[] = "sync=a%20b&friends=\0x";  // a NUL byte travels unchanged
  int n = (int)sizeof(form) - 1;
  WebHandle* h = qel_web_create("127.0.0.1", srv.port(), "/p", form, n, 5);
  ASSERT_EQ(run_to_end(h), 1);
  std::string want = "POST /p HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(srv.port()) +
                     "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                     std::to_string(n) + "\r\n\r\n" + std::string(form, n);
  EXPECT_EQ(srv.request(), want);
  EXPECT_EQ(qel_web_get_status(h), 201);
  EXPECT_EQ(h->body_len, 0);
  qel_web_destroy(h);
}

TEST(QelWeb, BodyPiecesAppendAfterHeaderAndFirstPieceDecidesHeaderBlock) {
  {
    TinyServer srv({{"HTTP/1.0 200 OK\r\nX-A: 1\r\n\r\n"}, {"abc", 150}, {"defg", 150}});
    WebHandle* h = qel_web_create("127.0.0.1", srv.port(), "/", nullptr, 0, 5);
    std::vector<int> lens;
    ASSERT_EQ(run_to_end(h, &lens), 1);
    EXPECT_EQ(body(h), "abcdefg");
    EXPECT_EQ(h->header_len, (int)strlen("HTTP/1.0 200 OK\r\nX-A: 1\r\n\r\n"));
    // The body grew piece by piece: 0, 3, 7.
    ASSERT_GE(lens.size(), 3u);
    EXPECT_NE(std::find(lens.begin(), lens.end(), 3), lens.end());
    EXPECT_EQ(lens.back(), 7);
    qel_web_destroy(h);
  }
  {
    // The first piece stops inside the headers: the header end is looked for
    // again in the later pieces, so the split header and the body stay apart.
    TinyServer srv({{"HTTP/1.0 404 Nope\r\nX-A: 1"}, {"2\r\nX-B: 3\r", 200}, {"\n\r\nrest", 200}});
    WebHandle* h = qel_web_create("127.0.0.1", srv.port(), "/", nullptr, 0, 5);
    ASSERT_EQ(run_to_end(h), 1);
    EXPECT_EQ(h->header_len, (int)strlen("HTTP/1.0 404 Nope\r\nX-A: 12\r\nX-B: 3\r\n\r\n"));
    EXPECT_EQ(qel_web_get_status(h), 404);
    EXPECT_EQ(header(h, "X-A"), "12");
    EXPECT_EQ(header(h, "X-B"), "3");
    EXPECT_EQ(body(h), "rest");
    qel_web_destroy(h);
  }
}

TEST(QelWeb, MalformedAnswersGiveNeutralResults) {
  struct Case {
    std::string answer;
    int status;
    std::string body;
  };
  std::vector<Case> cases = {
      {"", 0, ""},                                              // closes at once
      {"garbage-without-blank", 0, ""},                         // no status, no headers
      {"HTTP/1.0", 0, ""},                                      // text ends before the code
      {"HTTP/1.0 ", 0, ""},
      {"HTTP/1.0 abc\r\n\r\nx", 0, "x"},
      {"HTTP/1.0 99999999999999999999 Big\r\n\r\n", 999999999, ""},  // no overflow
      {"HTTP/1.0 200 OK\r\nContent-Length: 99999999999\r\n\r\nshort", 200, "short"},
      {"\r\n\r\n", 0, ""},
      {"HTTP/1.0 200 OK\nX-B: v\n\r\r\nbody", 200, "body"},  // bare LFs, CRs between
      {std::string("HTTP/1.0 200\0OK\r\nX-N: a\0b\r\n\r\n", 29), 200, ""},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.answer);
    TinyServer srv({{c.answer}});
    WebHandle* h = qel_web_create("127.0.0.1", srv.port(), "/", nullptr, 0, 5);
    ASSERT_EQ(run_to_end(h), 1);
    EXPECT_EQ(h->error, 0);
    EXPECT_EQ(qel_web_get_status(h), c.status);
    EXPECT_EQ(body(h), c.body);
    EXPECT_EQ(header(h, "X-Response"), "");
    std::string longname(400, 'X');  // longer than the pattern buffer
    EXPECT_EQ(header(h, longname.c_str()), "");
    qel_web_destroy(h);
  }
}

TEST(QelWeb, PeerThatClosesMidRequestEndsWithErrorNotSignal) {
  // The server drops the connection without reading a 12 MB form body, by an
  // abortive or an orderly close (the latter makes later sends hit EPIPE).
  std::string big(12 << 20, 'a');
  for (auto end : {TinyServer::RESET, TinyServer::CLOSE}) {
    TinyServer srv({}, end, false);
    testing::internal::CaptureStdout();
    WebHandle* h = qel_web_create("127.0.0.1", srv.port(), "/", big.data(), (int)big.size(), 5);
    ASSERT_EQ(run_to_end(h), 1);
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(h->error, 1);
    EXPECT_NE(log.find("perror - "), std::string::npos) << log;
    EXPECT_EQ(qel_web_get_status(h), 0);
    qel_web_destroy(h);
  }
}

TEST(QelWeb, RefusedConnectionFails) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, (sockaddr*)&a, sizeof(a));
  socklen_t l = sizeof(a);
  getsockname(fd, (sockaddr*)&a, &l);
  int port = ntohs(a.sin_port);
  close(fd);  // nobody listens there now
  WebHandle* h = qel_web_create("127.0.0.1", port, "/", nullptr, 0, 5);
  ASSERT_EQ(run_to_end(h), 1);
  EXPECT_EQ(h->error, 1);
  EXPECT_EQ(qel_web_get_status(h), 0);
  qel_web_destroy(h);
}

// The deadline counts whole wall-clock seconds: the request gives up in the
// second after it, never before a second has gone by. Only a hang is bounded
// here (run_to_end's limit).
TEST(QelWeb, SilentServerTimesOut) {
  TinyServer srv({}, TinyServer::HOLD);
  testing::internal::CaptureStdout();
  auto t0 = std::chrono::steady_clock::now();
  WebHandle* h = qel_web_create("127.0.0.1", srv.port(), "/", nullptr, 0, 1);
  ASSERT_EQ(run_to_end(h), 1);
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::string log = testing::internal::GetCapturedStdout();
  EXPECT_EQ(h->error, 1);
  EXPECT_NE(log.find("timeout :: state = 3"), std::string::npos) << log;
  EXPECT_GT(time(nullptr), h->deadline);
  EXPECT_GE(secs, 0.9);
  qel_web_destroy(h);
}

TEST(QelWeb, AnswerBeyondCapIsCutOffWithError) {
  std::string head = "HTTP/1.0 200 OK\r\n\r\n";
  TinyServer srv({{head + std::string(QEL_WEB_MAX_ANSWER + 10000, 'b')}});
  testing::internal::CaptureStdout();
  WebHandle* h = qel_web_create("127.0.0.1", srv.port(), "/", nullptr, 0, 5);
  ASSERT_EQ(run_to_end(h), 1);
  std::string log = testing::internal::GetCapturedStdout();
  EXPECT_EQ(h->error, 1);
  EXPECT_LE(h->recv.len, (int)QEL_WEB_MAX_ANSWER);
  EXPECT_NE(log.find("larger than"), std::string::npos);
  qel_web_destroy(h);
}

// A server that sends megabytes of headers a little at a time: the search
// for their end goes on from where the last piece left it, and looks at
// each byte once, not once for every piece that follows.
TEST(QelWeb, AHugeHeaderInSmallPiecesIsSearchedOnce) {
  std::string head = "HTTP/1.0 200 OK\r\n";
  while (head.size() < 3 * 1024 * 1024) head += "X-Pad: " + std::string(90, 'p') + "\r\n";
  head += "X-End: 1\r\n\r\n";
  for (const std::string& answer : {head + "body", head.substr(0, head.size() - 2)}) {
    WebHandle* h = static_cast<WebHandle*>(calloc(1, sizeof(WebHandle)));
    h->socket = -1;
    ASSERT_EQ(_qel_web_take(h, answer.data(), (int)answer.size(), 1000), 1);
    bool ended = answer.size() > head.size();
    EXPECT_EQ(h->header_len, ended ? (int)head.size() : (int)answer.size());
    EXPECT_EQ(body(h), ended ? "body" : "");
    EXPECT_EQ(header(h, "X-End"), "1");
    EXPECT_LE(h->header_work, (long)answer.size());
    qel_web_destroy(h);
  }
}

TEST(QelWeb, NameLookupIsCachedOnlyWhenItSucceeds) {
  testing::internal::CaptureStdout();
  in_addr* a = qel_gethostbyname("localhost");
  in_addr* b = qel_gethostbyname("localhost");
  std::string log = testing::internal::GetCapturedStdout();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(ntohl(a->s_addr), 0x7f000001u);
  size_t first = log.find("gethostbyname ...");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(log.find("gethostbyname ...", first + 1), std::string::npos);
  EXPECT_NE(log.find("qel_gethostbyname('localhost') cached"), std::string::npos);

  testing::internal::CaptureStdout();
  WebHandle* h1 = qel_web_create("nonexistent.invalid", 80, "/", nullptr, 0, 5);
  WebHandle* h2 = qel_web_create("nonexistent.invalid", 80, "/", nullptr, 0, 5);
  log = testing::internal::GetCapturedStdout();
  EXPECT_EQ(h1->error, 1);
  EXPECT_EQ(h2->error, 1);
  EXPECT_EQ(qel_web_poll(h1), 1);
  // A failed name is asked again by the next request.
  size_t p = log.find("gethostbyname(nonexistent.invalid) == null");
  ASSERT_NE(p, std::string::npos);
  EXPECT_NE(log.find("gethostbyname(nonexistent.invalid) == null", p + 1), std::string::npos);
  EXPECT_NE(log.find("qel_gethostbyname == null"), std::string::npos);
  qel_web_destroy(h1);
  qel_web_destroy(h2);
}

TEST(QelWeb, OversizedRequestFailsAtOnce) {
  std::string host(300, 'h');
  std::string path(1100, 'p');
  std::string fits_handle(1000, 'p');  // fits the path field, not the 1023-byte head
  for (auto [hs, ps] : {std::pair{host, std::string("/")}, std::pair{std::string("127.0.0.1"), path},
                        std::pair{std::string("127.0.0.1"), fits_handle}}) {
    WebHandle* h = qel_web_create(hs.c_str(), 80, ps.c_str(), nullptr, 0, 5);
    EXPECT_EQ(h->error, 1);
    EXPECT_EQ(h->socket, -1);
    EXPECT_EQ(qel_web_poll(h), 1);
    qel_web_destroy(h);
  }
}

TEST(QelWeb, UrlencodeKeepsAlnumAndHexesTheRest) {
  const char* t = "aZ09 ~-_.+/\xff";
  int n = (int)strlen(t);
  EXPECT_EQ(qel_web_urlencode_len(t, n), 1 + 4 + 3 * 8);
  char out[64];
  qel_web_urlencode(out, sizeof(out), t, n);
  EXPECT_STREQ(out, "aZ09%20%7e%2d%5f%2e%2b%2f%ff");
  EXPECT_EQ(qel_web_urlencode_len(t, 0), 1);
  EXPECT_EQ(qel_web_urlencode_len(t, -3), 1);

  // Stops before an entry that would not leave room for the terminator.
  char small[8];
  memset(small, 'Q', sizeof(small));
  qel_web_urlencode(small, 5, "ab c", 4);
  EXPECT_STREQ(small, "ab");
  EXPECT_EQ(small[5], 'Q');  // nothing written past out_size
  qel_web_urlencode(small, 6, "ab c", 4);
  EXPECT_STREQ(small, "ab%20");
  qel_web_urlencode(small, 1, "abc", 3);
  EXPECT_STREQ(small, "");
}

TEST(QelWebDeathTest, DisabledModuleFailsEveryRequest) {
  // Disabling is for good, so it runs in a child process.
  EXPECT_EXIT(
      {
        qel_web_disable();
        testing::internal::CaptureStdout();
        WebHandle* h = qel_web_create("127.0.0.1", 1, "/", nullptr, 0, 5);
        std::string log = testing::internal::GetCapturedStdout();
        bool ok = h->error == 1 && qel_web_poll(h) == 1 && qel_web_get_status(h) == 0 &&
                  log.find("_qel_web_disabled == true") != std::string::npos;
        qel_web_destroy(h);
        exit(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

// Sockets are watched with poll(), so a descriptor numbered past a select()
// set's size still works, as it does in a long-running game with many files open.
TEST(QelWeb, DescriptorsBeyondSelectSetSizeStillWork) {
  rlimit lim{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &lim), 0);
  if (lim.rlim_max != RLIM_INFINITY && lim.rlim_max < FD_SETSIZE + 64) GTEST_SKIP() << "descriptor limit too low";
  rlimit raised = lim;
  raised.rlim_cur = FD_SETSIZE + 64;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);
  std::vector<int> fillers;
  int base = open("/dev/null", O_RDONLY);
  ASSERT_GE(base, 0);
  fillers.push_back(base);
  while (fillers.back() >= 0 && fillers.back() < FD_SETSIZE + 8) fillers.push_back(dup(base));
  ASSERT_GE(fillers.back(), 0);
  TinyServer srv({{"HTTP/1.0 200 OK\r\n\r\nfar"}});
  WebHandle* h = qel_web_create("127.0.0.1", srv.port(), "/", nullptr, 0, 5);
  EXPECT_GE(h->socket, FD_SETSIZE);
  ASSERT_EQ(run_to_end(h), 1);
  EXPECT_EQ(h->error, 0);
  EXPECT_EQ(body(h), "far");
  qel_web_destroy(h);
  for (int fd : fillers) close(fd);
  setrlimit(RLIMIT_NOFILE, &lim);
}
