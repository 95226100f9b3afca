// A stand-in for the game's web API server, for the tests only (the game has
// no server of its own). It listens on 127.0.0.1, answers the paths the game
// asks for with replies shaped like the real service's, records every
// request, and can be told to fail: refuse connections, answer 500, answer
// something that is not JSON, answer late, or let the answer trickle in.
// Account ids are long, as a real service's may be.
//
//   /z2/api.php, /z2/dev/api.php   by "&_action=": "login" and "create" give
//                                  the account below, "store" the offer,
//                                  "receipts" the verdicts, others "{}"
//   /z2/preboard.php               the policy text
//   /z2/store.php                  the purchase page; counts as a purchase
//                                  whose receipt later logins confirm
//   anything else                  404
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ruvezor/util/qel_base64.h"
#include "z2_test_util.h"

namespace z2test {

class FakeWeb {
public:
    enum Mode { ANSWER, REFUSE, FAIL_500, GARBAGE, SLOW, TRICKLE };

    struct Request {
        std::string raw, method, path, query, action, body;
    };

    // What a login answers; the test fills in the online host and token.
    struct Account {
        std::string uid = "5f2b8c1e-4d7a-4c39-9e0b-000000001001", name = "Guest 1001", server, token, news = "1";
        std::string html = "<h2>News</h2><p>Welcome back.</p>";
        int rank = 2;
        std::vector<std::pair<std::string, std::string>> docs;  // synced documents: name, contents
        int docs_version = 1;  // the version every synced document is listed with
    } account;

    // The store offer ("data" holds the products, "1" first).
    std::string store =
        "{\"recent\":0,\"limit\":100000,\"header\":\"Zencoins\",\"footer\":\"Coins reach your account "
        "soon.\",\"data\":{\"1\":{\"id\":\"zc1000\",\"ready\":1,\"coins\":1000,\"price\":\"$0.99\",\"title\":"
        "\"Pouch\"},\"2\":{\"id\":\"zc5000\",\"ready\":1,\"coins\":5000,\"price\":\"$3.99\",\"title\":\"Chest\"},"
        "\"3\":{\"id\":\"zc9000\",\"ready\":0,\"coins\":9000,\"price\":\"$5.99\",\"title\":\"Vault\"}}}";
    std::string policy = "Play fair. Be kind in the chat.";

    int port = 0;

    FakeWeb() {
        open_listener();
        thread_ = std::thread([this] { run(); });
    }
    ~FakeWeb() {
        stop_ = true;
        thread_.join();
        if (lfd_ >= 0) close(lfd_);
    }
    FakeWeb(const FakeWeb&) = delete;
    FakeWeb& operator=(const FakeWeb&) = delete;

    std::string address() const { return "127.0.0.1:" + std::to_string(port); }

    // Refusing closes the port; any other mode opens it again. SLOW answers
    // after slow_ms, TRICKLE a byte every slow_ms; both send the rest at once
    // when the mode changes.
    void set_mode(Mode m, int slow_ms = 0) {
        {
            std::lock_guard<std::mutex> g(mu_);
            mode_ = m;
            slow_ms_ = slow_ms;
        }
        want_listen_ = m != REFUSE;
        while (listening_ != want_listen_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The next connection gets exactly this reply, whatever it asks.
    void script(std::string reply) {
        std::lock_guard<std::mutex> g(mu_);
        scripted_.push_back(std::move(reply));
    }
    std::vector<Request> requests() {
        std::lock_guard<std::mutex> g(mu_);
        return requests_;
    }
    // The actions asked of the API script, in order; other paths as the path.
    std::vector<std::string> asked() {
        std::vector<std::string> out;
        for (const Request& r : requests()) out.push_back(r.action.empty() ? r.path : r.action);
        return out;
    }

    // Reply builders, for scripts and the answers below.
    static std::string reply(const std::string& headers, const std::string& body = "",
                             const std::string& status = "200 OK") {
        return "HTTP/1.0 " + status + "\r\n" + headers + "\r\n" + body;
    }
    static std::string ok(const std::string& type, const std::string& body = "", const std::string& more = "") {
        return reply("X-Response: OK\r\nX-Type: " + type + "\r\n" + more, body);
    }

private:
    bool still(Mode m) {
        std::lock_guard<std::mutex> g(mu_);
        return mode_ == m;
    }
    static bool readable(int fd) {
        pollfd p{fd, POLLIN, 0};
        return poll(&p, 1, 10) > 0;
    }

    void open_listener() {
        lfd_ = bind_loopback(SOCK_STREAM, port);
        if (lfd_ >= 0 && listen(lfd_, 16) != 0) {
            close(lfd_);
            lfd_ = -1;
        }
        listening_ = lfd_ >= 0;
    }

    void run() {
        while (!stop_) {
            if (want_listen_ && lfd_ < 0) open_listener();
            if (!want_listen_ && lfd_ >= 0) {
                close(lfd_);
                lfd_ = -1;
                listening_ = false;
            }
            if (lfd_ >= 0 && readable(lfd_)) serve(accept(lfd_, nullptr, nullptr));
            else if (lfd_ < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    // s as a JSON string. The answers are written by hand: this thread must
    // not touch the game's values, whose counts belong to the main thread.
    static std::string quoted(const std::string& s) {
        std::string out = "\"";
        for (unsigned char c : s) {
            if (c == '"' || c == '\\') {
                out += '\\', out += (char)c;
            } else if (c < 0x20) {
                char esc[8];
                snprintf(esc, sizeof(esc), "\\u%04x", c);
                out += esc;
            } else {
                out += (char)c;
            }
        }
        return out + "\"";
    }

    static std::string field(const std::string& query, const std::string& name) {
        size_t at = query.find("&" + name + "=");
        if (at == std::string::npos) return "";
        at += name.size() + 2;
        return query.substr(at, query.find('&', at) - at);
    }

    std::string answer_api(const Request& q) {
        const std::string& a = q.action;
        if (a == "login" || a == "create") {
            std::lock_guard<std::mutex> g(mu_);
            std::string list, data, valid;
            for (const auto& [name, text] : account.docs) {
                const char* comma = list.empty() ? "" : ",";
                list += comma + quoted(name) + ":" + std::to_string(account.docs_version);
                data += comma + quoted(name) + ":" +
                        quoted(base64_encode((const unsigned char*)text.data(), (unsigned)text.size()));
            }
            for (const std::string& key : std::set<std::string>(purchases_.begin(), purchases_.end()))
                valid += (valid.empty() ? "" : ",") + quoted(key) + ":1";
            std::string sync = "{\"sync\":{" + list + "},\"data\":{" + data + "}}";
            std::string body = "{\"html\":" + quoted(account.html) + ",\"sync\":" + quoted(sync) +
                               ",\"rank\":" + std::to_string(account.rank) + ",\"valid\":{" + valid + "}}";
            return ok("login", body,
                      "X-UID: " + account.uid + "\r\nX-Name: " + account.name + "\r\nX-Server: " + account.server +
                          "\r\nX-Token: " + account.token + "\r\nX-News: " + account.news + "\r\n");
        }
        if (a == "store") return ok("store", store);
        if (a == "receipts") return ok("receipts", "{\"valid\":{}}");
        return ok(a, "{}");
    }

    std::string answer(const Request& q) {
        if (q.path == "/z2/api.php" || q.path == "/z2/dev/api.php") return answer_api(q);
        if (q.path == "/z2/preboard.php") return reply("Content-Type: text/plain\r\n", policy);
        if (q.path == "/z2/store.php") {
            std::lock_guard<std::mutex> g(mu_);
            purchases_.push_back("web:" + field(q.query, "uid"));
            return reply("Content-Type: text/html\r\n", "<html>Thank you.</html>");
        }
        return reply("Content-Type: text/plain\r\n", "not here", "404 Not Found");
    }

    // Reads the head and Content-Length bytes of body, then answers and closes.
    void serve(int fd) {
        if (fd < 0) return;
        Request q;
        char buf[4096];
        size_t want = std::string::npos;
        while (!stop_ && q.raw.size() < want) {
            if (!readable(fd)) continue;
            ssize_t n = recv(fd, buf, sizeof(buf), 0);
            if (n <= 0) break;
            q.raw.append(buf, (size_t)n);
            size_t e = q.raw.find("\r\n\r\n"), cl = q.raw.find("Content-Length: ");
            if (e != std::string::npos) want = e + 4 + (cl < e ? std::stoul(q.raw.substr(cl + 16)) : 0);
        }
        size_t sp = q.raw.find(' '), sp2 = q.raw.find(' ', sp + 1);
        q.method = q.raw.substr(0, sp);
        std::string target = sp == std::string::npos ? "" : q.raw.substr(sp + 1, sp2 - sp - 1);
        size_t question = target.find('?');
        q.path = target.substr(0, question);
        q.query = question == std::string::npos ? "" : target.substr(question + 1);
        q.action = q.path.find("api.php") != std::string::npos ? field(q.query, "_action") : "";
        size_t e = q.raw.find("\r\n\r\n");
        q.body = e == std::string::npos ? "" : q.raw.substr(e + 4);

        std::string out;
        Mode mode;
        int slow = 0;
        {
            std::lock_guard<std::mutex> g(mu_);
            requests_.push_back(q);
            mode = mode_;
            slow = slow_ms_;
            if (!scripted_.empty()) out = scripted_.front(), scripted_.pop_front();
        }
        if (out.empty()) {
            if (mode == FAIL_500)
                out = reply("Content-Type: text/html\r\n", "<html>Internal Server Error</html>",
                            "500 Internal Server Error");
            else if (mode == GARBAGE)
                out = ok(q.action.empty() ? "page" : q.action, "<html><body>Site maintenance</body></html>");
            else
                out = answer(q);
        }
        // Late, unless told to stop being slow: later requests wait behind this one.
        for (int waited = 0; mode == SLOW && waited < slow && !stop_ && still(SLOW); waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        size_t sent = 0;
        for (; mode == TRICKLE && sent < out.size() && !stop_ && still(TRICKLE); sent++) {
            if (send(fd, out.data() + sent, 1, MSG_NOSIGNAL) != 1) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(slow));
        }
        if (sent < out.size()) send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
        close(fd);
    }

    int lfd_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false}, want_listen_{true}, listening_{false};
    std::mutex mu_;
    Mode mode_ = ANSWER;
    int slow_ms_ = 0;
    std::deque<std::string> scripted_;
    std::vector<Request> requests_;
    std::vector<std::string> purchases_;
};

}  // namespace z2test
