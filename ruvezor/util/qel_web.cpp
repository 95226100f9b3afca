// qel_web: HTTP/1.0 requests over non-blocking sockets, polled each frame.
//
// Request text:
//   GET:  "GET <path> HTTP/1.0\r\nHost: <host>:<port>\r\n\r\n"
//   POST: "POST <path> HTTP/1.0\r\nHost: <host>:<port>\r\n"
//         "Content-Type: application/x-www-form-urlencoded\r\n"
//         "Content-Length: <n>\r\n\r\n" followed by the n body bytes.
// The answer is read until the server closes; nothing in it is trusted: every
// scan is bounded by the bytes actually received.
#include "ruvezor/util/qel_web.h"

#include <arpa/inet.h>   // htons
#include <errno.h>
#include <fcntl.h>       // non-blocking sockets
#include <netdb.h>       // gethostbyname, h_errno, herror
#include <string.h>
#include <poll.h>        // poll
#include <sys/socket.h>
#include <time.h>        // wall-clock deadlines
#include <unistd.h>      // close

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "ruvezor/util/qel_log.h"

// ---- module state --------------------------------------------------------

struct HostAddr {
    int ok;
    in_addr addr;
};

static struct {
    int disabled;                             // set by qel_web_disable, never cleared
    int initialised;                          // set by qel_web_init
    std::map<std::string, HostAddr>* names;   // name cache, made on first use
} _qel_web = {0, 0, nullptr};

// ---- internal helpers -----------------------------------------------------

static int _qel_web_now() { return (int)time(nullptr); }

static void _qel_web_perror(const char* what, int err) {
    qel_log("perror - %s [%d]: %s", what, err, strerror(err));
}

// Grows b (doubling from 1) until it holds need bytes; new space is zeroed.
static bool _qel_web_buf_reserve(WebBuffer* b, int need) {
    if (need <= b->cap) return true;
    if (need < 0 || need > QEL_WEB_MAX_ANSWER + 8192) return false;
    long cap = b->cap > 0 ? b->cap : 1;
    while (cap < need) cap *= 2;
    char* p = (char*)realloc(b->data, (size_t)cap);
    if (!p) return false;
    memset(p + b->cap, 0, (size_t)(cap - b->cap));
    b->data = p;
    b->cap = (int)cap;
    return true;
}

static bool _qel_web_buf_append(WebBuffer* b, const char* src, int n) {
    if (n <= 0) return true;
    if (!_qel_web_buf_reserve(b, b->len + n)) return false;
    memcpy(b->data + b->len, src, (size_t)n);
    b->len += n;
    return true;
}

static void _qel_web_fail(WebHandle* h) { h->error = 1; }

// The header block ends after the first line feed that follows another line
// feed with only carriage returns between them; without one, all of it. The
// search goes on from where the last piece left it, so a server that never
// sends the blank line costs one pass over its bytes, not one per piece.
static int _qel_web_header_end(WebHandle* h) {
    const char* s = h->recv.data;
    for (int i = h->header_scan; i < h->recv.len; i++) {
        h->header_work++;
        if (s[i] == '\n') {
            if (h->header_nl) return i + 1;
            h->header_nl = 1;
        } else if (s[i] != '\r') {
            h->header_nl = 0;
        }
    }
    h->header_scan = h->recv.len;
    return -1;
}

// Bytes the answer takes in one read.
enum { QEL_WEB_PIECE = 4096 };

// Room for one more read and a zero after it; false (the request failed) once
// the answer would outgrow QEL_WEB_MAX_ANSWER.
static bool _qel_web_recv_room(WebHandle* h) {
    if (h->recv.len + QEL_WEB_PIECE > QEL_WEB_MAX_ANSWER ||
        !_qel_web_buf_reserve(&h->recv, h->recv.len + QEL_WEB_PIECE + 1)) {
        qel_log("qel_web: answer from %s larger than %d bytes\n", h->host,
                (int)QEL_WEB_MAX_ANSWER);
        _qel_web_fail(h);
        return false;
    }
    return true;
}

// got bytes of the answer have just landed after the ones before.
static void _qel_web_took(WebHandle* h, int got, int now) {
    h->recv.len += got;
    h->recv.data[h->recv.len] = 0;
    h->deadline = now + h->timeout;
    // Until the blank line has arrived, everything so far counts as the
    // header block: headers split across reads must neither be lost nor leak
    // into the body.
    if (!h->header_done) {
        int e = _qel_web_header_end(h);
        h->header_done = e >= 0;
        h->header_len = e >= 0 ? e : h->recv.len;
    }
    h->body = h->recv.data + h->header_len;
    h->body_len = h->recv.len - h->header_len;
    h->fresh = 1;
}

// ---- public functions -------------------------------------------------------

int qel_web_init() {
    _qel_web.initialised = 1;
    return 0;
}

void qel_web_deinit() {}

void qel_web_delay() {}

void qel_web_disable() { _qel_web.disabled = 1; }

int qel_web_urlencode_len(const char* text, int n) {
    if (n < 1 || !text) return 1;
    int r = 1;
    for (int i = 0; i < n; i++) {
        unsigned char c = (unsigned char)text[i];
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        r += plain ? 1 : 3;
    }
    return r;
}

void qel_web_urlencode(char* out, int out_size, const char* text, int n) {
    static const char hex[] = "0123456789abcdef";
    if (!out || out_size < 1) return;
    memset(out, 0, (size_t)out_size);
    if (!text) return;
    int o = 0;
    for (int i = 0; i < n; i++) {
        unsigned char c = (unsigned char)text[i];
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        int need = plain ? 1 : 3;
        if (o + need > out_size - 1) break;
        if (plain) {
            out[o++] = (char)c;
        } else {
            out[o++] = '%';
            out[o++] = hex[c >> 4];
            out[o++] = hex[c & 15];
        }
    }
}

const char* qel_lookup_name(const char* host) {
    return host && strcmp(host, "localhost") == 0 ? "127.0.0.1" : host;
}

in_addr* qel_gethostbyname(const char* host) {
    if (!host) return nullptr;
    if (!_qel_web.names) _qel_web.names = new std::map<std::string, HostAddr>();
    auto it = _qel_web.names->find(host);
    if (it != _qel_web.names->end()) return &it->second.addr;

    qel_log("gethostbyname ...\n");
    hostent* he = gethostbyname(qel_lookup_name(host));
    if (!he || he->h_addrtype != AF_INET || he->h_length != (int)sizeof(in_addr) ||
        !he->h_addr_list || !he->h_addr_list[0]) {
        qel_log("gethostbyname(%s) == null; h_errno = %d\n", host, h_errno);
        herror("gethostbyname");
        return nullptr;
    }
    qel_log("qel_gethostbyname('%s') cached\n", host);
    HostAddr a;
    a.ok = 1;
    memcpy(&a.addr, he->h_addr_list[0], sizeof(in_addr));
    HostAddr& slot = (*_qel_web.names)[host];
    slot = a;
    return &slot.addr;
}

WebHandle* qel_web_create(const char* host, int port, const char* path,
                          const char* body, int body_len, int timeout) {
    WebHandle* h = (WebHandle*)calloc(1, sizeof(WebHandle));
    if (!h) abort();  // out of memory for a few hundred bytes: nothing sane to do
    h->socket = -1;
    h->port = port;
    h->timeout = timeout;
    h->started = _qel_web_now();
    h->deadline = h->started + timeout;
    h->limit = 0;
    if (!host) host = "";
    if (!path) path = "";
    if (body_len > 0 && !body) body_len = 0;
    snprintf(h->host, sizeof(h->host), "%s", host);
    snprintf(h->path, sizeof(h->path), "%s", path);

    if (_qel_web.disabled) {
        qel_log("_qel_web_disabled == true\n");
        _qel_web_fail(h);
        return h;
    }
    if (strlen(host) >= sizeof(h->host) || strlen(path) >= sizeof(h->path)) {
        qel_log("qel_web_create: host or path too long\n");
        _qel_web_fail(h);
        return h;
    }

    // The head is formatted into the first 1024 bytes of the send buffer.
    if (!_qel_web_buf_reserve(&h->send, 1024)) {
        _qel_web_fail(h);
        return h;
    }
    int head;
    if (body_len > 0) {
        head = snprintf(h->send.data, 1024,
                        "POST %s HTTP/1.0\r\nHost: %s:%d\r\n"
                        "Content-Type: application/x-www-form-urlencoded\r\n"
                        "Content-Length: %d\r\n\r\n",
                        h->path, h->host, port, body_len);
    } else {
        head = snprintf(h->send.data, 1024, "GET %s HTTP/1.0\r\nHost: %s:%d\r\n\r\n",
                        h->path, h->host, port);
    }
    if (head < 0 || head >= 1024) {
        qel_log("qel_web_create: request head too long\n");
        _qel_web_fail(h);
        return h;
    }
    h->send.len = head;
    if (body_len > 0 && !_qel_web_buf_append(&h->send, body, body_len)) {
        qel_log("qel_web_create: request body too long\n");
        _qel_web_fail(h);
        return h;
    }

    in_addr* a = qel_gethostbyname(h->host);
    if (!a) {
        qel_log("qel_gethostbyname == null\n");
        _qel_web_fail(h);
        return h;
    }
    h->addr.sin_family = AF_INET;
    h->addr.sin_port = htons((uint16_t)port);
    h->addr.sin_addr = *a;

    h->socket = socket(AF_INET, SOCK_STREAM, 0);
    if (h->socket < 0) {
        _qel_web_perror("socket", errno);
        h->socket = -1;
        _qel_web_fail(h);
        return h;
    }
    int fl = fcntl(h->socket, F_GETFL, 0);
    fcntl(h->socket, F_SETFL, (fl < 0 ? 0 : fl) | O_NONBLOCK);
    h->state = 1;
    return h;
}

// One step; 1 = finished, 0 = go on.
static int _qel_web_step(WebHandle* h) {
    h->fresh = 0;
    if (h->state == 4 || h->error) return 1;
    int now = _qel_web_now();
    if (now > h->deadline || (h->limit && now > h->limit)) {
        qel_log("timeout :: state = %d\n", h->state);
        _qel_web_fail(h);
        return 1;
    }
    if (h->state == 0 || h->socket < 0) {
        // A handle that never started a socket can't make progress.
        _qel_web_fail(h);
        return 1;
    }

    if (h->state == 1) {
        if (connect(h->socket, (sockaddr*)&h->addr, sizeof(h->addr)) < 0 &&
            errno != EINPROGRESS) {
            _qel_web_perror("connect", errno);
            _qel_web_fail(h);
            return 1;
        }
        h->state = 2;
        h->deadline = now + h->timeout;
    }

    // poll() has no descriptor-number limit, unlike a select() set.
    pollfd pfd = {h->socket, POLLIN | POLLOUT, 0};
    int r = poll(&pfd, 1, 0);
    if (r < 0 && errno == EINTR) return 0;
    if (r < 0) {
        _qel_web_perror("poll", errno);
        _qel_web_fail(h);
        return 1;
    }
    if (r == 0) return 0;

    if (h->state == 3) {
        if (!(pfd.revents & (POLLIN | POLLERR | POLLHUP))) return 0;
        if (!_qel_web_recv_room(h)) return 1;
        ssize_t got = recv(h->socket, h->recv.data + h->recv.len, QEL_WEB_PIECE, 0);
        if (got < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
            _qel_web_perror("recv", errno);
            _qel_web_fail(h);
            return 1;
        }
        if (got == 0) {
            h->state = 4;
            return 1;
        }
        _qel_web_took(h, (int)got, now);
        return 0;
    }
    if (h->state == 4) return 1;
    if (h->state != 2) return 0;

    if (!(pfd.revents & (POLLOUT | POLLERR | POLLHUP))) return 0;
    int left = h->send.len - h->send.pos;
    if (left > 0) {
        // MSG_NOSIGNAL: a peer that already closed must not kill the game.
        ssize_t sent = send(h->socket, h->send.data + h->send.pos, (size_t)left, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
            _qel_web_perror("send", errno);
            _qel_web_fail(h);
            return 1;
        }
        h->send.pos += (int)sent;
        if (sent > 0) h->deadline = now + h->timeout;
    }
    if (h->send.pos >= h->send.len) h->state = 3;
    return 0;
}

void qel_web_set_limit(WebHandle* h, int seconds) {
    if (h) h->limit = seconds > 0 ? h->started + seconds : 0;
}

int qel_web_poll(WebHandle* h) {
    if (!h) return 1;
    for (;;) {
        int done = _qel_web_step(h);
        if (done || !h->fresh) return done;
    }
}

int qel_web_get_status(WebHandle* h) {
    if (!h || h->header_len == 0 || !h->recv.data) return 0;
    const char* s = h->recv.data;
    int n = h->recv.len;
    int i = 0;
    while (i < n && s[i] != ' ') i++;
    while (i < n && s[i] == ' ') i++;
    int code = 0, digits = 0;
    // Nine digits at most: a hostile status line must not overflow.
    while (i < n && s[i] >= '0' && s[i] <= '9' && digits < 9) {
        code = code * 10 + (s[i] - '0');
        i++;
        digits++;
    }
    return code;
}

void qel_web_get_header(WebHandle* h, char* out, int out_size, const char* name) {
    if (!out || out_size < 1) return;
    memset(out, 0, (size_t)out_size);
    if (!h || !name || h->header_len == 0 || !h->recv.data || out_size < 2) return;
    char pat[256];
    int plen = snprintf(pat, sizeof(pat), "%s:", name);
    if (plen < 0) return;
    if (plen >= (int)sizeof(pat)) plen = (int)sizeof(pat) - 1;

    const char* s = h->recv.data;
    int end = h->header_len;
    for (int line = 0; line < end;) {
        if (line + plen <= end && memcmp(s + line, pat, (size_t)plen) == 0) {
            int i = line + plen;
            while (i < end && s[i] == ' ') i++;
            int o = 0;
            while (i < end && s[i] != '\r' && s[i] != '\n' && o < out_size - 1) out[o++] = s[i++];
            return;
        }
        const char* nl = (const char*)memchr(s + line, '\n', (size_t)(end - line));
        if (!nl) break;
        line = (int)(nl - s) + 1;
    }
}

int _qel_web_take(WebHandle* h, const char* data, int n, int piece) {
    if (!h || (n > 0 && !data)) return 0;
    if (piece < 1 || piece > QEL_WEB_PIECE) piece = QEL_WEB_PIECE;
    h->state = 3;
    for (int at = 0; at < n && !h->error; at += piece) {
        if (!_qel_web_recv_room(h)) break;
        int got = n - at < piece ? n - at : piece;
        memcpy(h->recv.data + h->recv.len, data + at, (size_t)got);
        _qel_web_took(h, got, _qel_web_now());
    }
    if (!h->error) h->state = 4;
    return h->error ? 0 : 1;
}

void qel_web_destroy(WebHandle* h) {
    if (!h) return;
    if (h->socket >= 0) close(h->socket);
    free(h->send.data);
    free(h->recv.data);
    free(h);
}
