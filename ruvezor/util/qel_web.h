// qel_web: a plain HTTP/1.0 client over non-blocking TCP sockets.
//
// One request per connection, no TLS, redirects, chunking or keep-alive: the
// answer ends when the server closes. Requests are advanced a little on every
// qel_web_poll so the frame loop never waits on the network; only the first
// lookup of a host name blocks (successful lookups are cached for the run).
#pragma once

#include <netinet/in.h>  // sockaddr_in, in_addr

// A growable byte buffer; new space is zeroed.
struct WebBuffer {
    int len;    // bytes in use
    int cap;    // bytes allocated
    int pos;    // bytes already sent (send buffer only)
    char* data;
};

// One request, made by qel_web_create and freed by qel_web_destroy. The first
// four fields are what callers read once qel_web_poll reports it finished.
struct WebHandle {
    char* body;         // answer body inside the receive buffer, null until data came
    int body_len;       // body bytes received so far
    int error;          // 1 = failed (disabled, lookup, socket error, timeout, too big)
    int fresh;          // 1 when the last poll step received data
    char host[256];
    int port;
    char path[1024];
    WebBuffer send;     // the whole request text
    WebBuffer recv;     // the whole answer, always followed by a zero byte
    int header_len;     // header block length incl. its blank line; 0 until data came
    int state;          // 0 new, 1 connecting, 2 sending, 3 receiving, 4 done
    int deadline;       // wall-clock second after which the request fails
    int timeout;        // seconds allowed without progress
    int started;        // wall-clock second the request was made
    int limit;          // wall-clock second after which it fails, progress or not; 0 = none
    int socket;         // -1 while none
    sockaddr_in addr;
    int header_done;    // 1 once the blank line ending the header block arrived
    int header_scan;    // bytes of the answer the search for that blank line has seen
    int header_nl;      // 1 when those bytes end in a line feed and carriage returns
    long header_work;   // bytes that search has looked at, all pieces together
};

// An answer larger than this (header and body) ends the request with an
// error instead of growing without bound.
enum { QEL_WEB_MAX_ANSWER = 16 * 1024 * 1024 };

int qel_web_init();
void qel_web_deinit();
// For a loop that waits between polls; a no-op, as requests are polled each frame.
void qel_web_delay();

// Every later qel_web_create fails at once; there is no way back.
void qel_web_disable();

// Buffer size qel_web_urlencode needs for n bytes of text (terminator included).
int qel_web_urlencode_len(const char* text, int n);
// Letters and digits as they are, every other byte as "%xx" (lowercase hex).
void qel_web_urlencode(char* out, int out_size, const char* text, int n);

// A GET without a body (body_len <= 0), else a form POST. Never null: a
// request that can't start is a handle with error 1.
WebHandle* qel_web_create(const char* host, int port, const char* path,
                          const char* body, int body_len, int timeout);
// The request fails once `seconds` have passed since it was made, however
// steadily its answer comes in (a server that trickles a byte at a time
// would otherwise keep it going for ever). 0 or less: no such limit.
void qel_web_set_limit(WebHandle* h, int seconds);
// 1 when the request has finished (well or not), 0 while it runs.
int qel_web_poll(WebHandle* h);
// The answer's status code; 0 before an answer arrived.
int qel_web_get_status(WebHandle* h);
// Value of header name (case-sensitive), empty when absent.
void qel_web_get_header(WebHandle* h, char* out, int out_size, const char* name);
void qel_web_destroy(WebHandle* h);

// The answer of a request that never went out, read from n bytes in pieces of
// at most `piece` bytes as the socket would hand them over (1..4096), the
// whole road of a received answer without a server; tests and fuzzing use it
// on a handle of their own making (zeroed, socket -1). 1 once the answer was
// read through, 0 when it failed (too big).
int _qel_web_take(WebHandle* h, const char* data, int n, int piece);

// Cached IPv4 address of host, or null when the lookup failed.
in_addr* qel_gethostbyname(const char* host);
// The name to hand a resolver for host: "localhost" is the loopback, even
// where the machine has no hosts file (minimal systems, containers), so a
// local match or server never needs one.
const char* qel_lookup_name(const char* host);
