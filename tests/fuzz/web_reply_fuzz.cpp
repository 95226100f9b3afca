// Fuzz entry for the HTTP/1.0 reply reader: any bytes a web server can send,
// arriving in pieces of any size. However the pieces fall, the reader must
// find the same header block, status and header values as from the answer in
// one piece, keep the body inside the bytes received, and hand out header
// values that fit their buffer and hold no line break.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_bytes.h"
#include "ruvezor/util/qel_web.h"

namespace {

struct Read {
    int ok = 0;
    int status = 0;
    int header_len = 0;
    std::string body;
    std::string values;  // every asked header value, each ended by '|'
};

// The headers the game asks its web API for, and two it never sends.
const char* const NAMES[] = {"X-Response", "X-Error", "X-Type", "Content-Type", "Content-Length", "", "X"};

Read read(const std::string& answer, int piece, int out_size) {
    WebHandle* h = static_cast<WebHandle*>(calloc(1, sizeof(WebHandle)));
    if (!h) abort();
    h->socket = -1;
    h->timeout = 5;
    Read r;
    r.ok = _qel_web_take(h, answer.data(), static_cast<int>(answer.size()), piece);
    if (r.ok && !h->recv.data) {
        // Nothing came: no answer to read, as from a server that closed at once.
        if (!answer.empty() || h->body || h->header_len || qel_web_get_status(h)) abort();
    } else if (r.ok) {
        if (h->header_len < 0 || h->header_len > h->recv.len) abort();
        if (h->recv.data[h->recv.len] != 0) abort();
        if (h->body != h->recv.data + h->header_len || h->body_len != h->recv.len - h->header_len) abort();
        if (h->recv.len != static_cast<int>(answer.size()) || memcmp(h->recv.data, answer.data(), answer.size()))
            abort();
        r.status = qel_web_get_status(h);
        if (r.status < 0 || r.status > 999999999) abort();
        r.header_len = h->header_len;
        r.body.assign(h->body, static_cast<size_t>(h->body_len));
        for (const char* name : NAMES) {
            std::string out(static_cast<size_t>(out_size) + 8, '\x7f');
            qel_web_get_header(h, out.data(), out_size, name);
            size_t len = strnlen(out.data(), static_cast<size_t>(out_size));
            if (out_size >= 1 && len >= static_cast<size_t>(out_size)) abort();  // not terminated
            if (out.compare(static_cast<size_t>(out_size), 8, std::string(8, '\x7f')) != 0) abort();
            std::string value(out.data(), out_size >= 1 ? len : 0);
            if (value.find_first_of("\r\n") != std::string::npos) abort();
            r.values += value + "|";
        }
    }
    qel_web_destroy(h);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzBytes in(data, size);
    int piece = 1 + in.u8() * 16;
    int out_size = in.u8() % 80;
    std::string answer = in.rest();
    Read whole = read(answer, 4096, out_size);
    Read pieces = read(answer, piece, out_size);
    if (whole.ok != pieces.ok || whole.status != pieces.status || whole.header_len != pieces.header_len ||
        whole.body != pieces.body || whole.values != pieces.values)
        abort();
    return 0;
}
