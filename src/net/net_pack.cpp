// net_pack: run-length packing of packets and their 64-byte headers.
//
// Header layout (both directions, 64 bytes; see net_pack.h for the table):
//   client to host: uid[16] name[16] token[16] type[16], then the value
//   host to client: zero[48] type[16], then the value
// Packed form: code byte 1..127 = that many literals follow; 129..255 = one
// byte follows, repeated (code & 127) times; 0 and 128 b are skipped.
#include "net/net_pack.h"

#include <cstring>

namespace {

// One buffer for both directions; the wire never carries more.
uint8_t pack_buf[NET_PACK_SIZE];

// Appends bytes to pack_buf, dropping whatever does not fit.
struct Out {
    size_t n = 0;
    int cut = 0;

    void put(uint8_t b) {
        if (n < sizeof(pack_buf))
            pack_buf[n++] = b;
        else
            cut = 1;
    }
    // The part of k bytes that still fits; marks the cut when it is less.
    size_t fit(size_t k) {
        size_t room = sizeof(pack_buf) - n;
        if (k > room) {
            k = room;
            cut = 1;
        }
        return k;
    }
    void put(const uint8_t* p, size_t k) {
        k = fit(k);
        memcpy(pack_buf + n, p, k);
        n += k;
    }
    void fill(uint8_t b, size_t k) {
        k = fit(k);
        memset(pack_buf + n, b, k);
        n += k;
    }
};

}  // namespace

std::string net_pack(const std::string& bytes, int* cut) {
    const uint8_t* in = reinterpret_cast<const uint8_t*>(bytes.data());
    const size_t n = bytes.size();
    Out out;
    size_t i = 0;
    while (i < n) {
        if (i + 1 < n && in[i + 1] == in[i]) {
            size_t count = 1;
            while (count < 127 && i + count < n && in[i + count] == in[i]) count++;
            out.put(static_cast<uint8_t>(128 + count));
            out.put(in[i]);
            i += count;
        } else {
            // A literal block ends before any run of three; pairs stay inside.
            size_t count = 1;
            while (count < 127 && i + count < n) {
                size_t j = i + count;
                if (j + 2 < n && in[j] == in[j + 1] && in[j + 1] == in[j + 2]) break;
                count++;
            }
            out.put(static_cast<uint8_t>(count));
            out.put(in + i, count);
            i += count;
        }
    }
    if (cut) *cut = out.cut;
    return std::string(reinterpret_cast<const char*>(pack_buf), out.n);
}

std::string net_unpack(const std::string& bytes, int* cut) {
    const uint8_t* in = reinterpret_cast<const uint8_t*>(bytes.data());
    const size_t n = bytes.size();
    Out out;
    size_t p = 0;
    while (p < n) {
        uint8_t c = in[p++];
        if (!(c & 128)) {
            if (c == 0) continue;
            if (p >= n) {
                out.cut = 1;
                break;
            }
            size_t k = c;
            if (k > n - p) {
                k = n - p;
                out.cut = 1;
            }
            out.put(in + p, k);
            p += k;
        } else {
            if (p >= n) {
                out.cut = 1;
                break;
            }
            uint8_t b = in[p++];
            out.fill(b, c & 127);
        }
    }
    if (cut) *cut = out.cut;
    return std::string(reinterpret_cast<const char*>(pack_buf), out.n);
}

void net_header_field(char field[16], const std::string& text) {
    memset(field, 0, 16);
    size_t k = text.size() < 15 ? text.size() : 15;
    memcpy(field, text.data(), k);
}

std::string net_build(const NetMessage& msg, int* cut) {
    std::string raw(NET_HEADER_SIZE + msg.value.size(), '\0');
    NetHostHeader h;
    memset(&h, 0, sizeof(h));
    net_header_field(h.type, msg.type);
    memcpy(raw.data(), &h, sizeof(h));
    if (!msg.value.empty()) memcpy(raw.data() + NET_HEADER_SIZE, msg.value.data(), msg.value.size());
    int packed_cut = 0;
    std::string packed = net_pack(raw, &packed_cut);
    if (cut) *cut = packed_cut || raw.size() > static_cast<size_t>(NET_PACK_SIZE);
    return packed;
}

namespace {

int header_read(const std::string& unpacked, void* out) {
    if (unpacked.size() < static_cast<size_t>(NET_HEADER_SIZE)) return 0;
    char h[NET_HEADER_SIZE];
    memcpy(h, unpacked.data(), sizeof(h));
    h[15] = h[31] = h[47] = h[63] = 0;
    memcpy(out, h, sizeof(h));
    return 1;
}

}  // namespace

int net_header_read(const std::string& unpacked, NetClientHeader* out) {
    return header_read(unpacked, out);
}

int net_header_read(const std::string& unpacked, NetHostHeader* out) {
    return header_read(unpacked, out);
}
