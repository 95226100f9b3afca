// Fuzz entry for the packet unpacker: any bytes a peer can send.
// Unpacking must stay inside its 64 KiB limit, agree with the packer on what
// it produced, and leave a header the endpoints can read as bounded text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/net_pack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string in(reinterpret_cast<const char*>(data), size);
    int cut = 0;
    std::string out = net_unpack(in, &cut);
    if (out.size() > static_cast<size_t>(NET_PACK_SIZE)) abort();
    // Whole blocks only: an uncut result is never longer than 127 bytes per input byte pair.
    if (!cut && out.size() > 127 * (in.size() / 2) + in.size()) abort();

    int pack_cut = 0;
    std::string packed = net_pack(out, &pack_cut);
    if (!pack_cut && net_unpack(packed) != out) abort();

    NetClientHeader ch;
    NetHostHeader hh;
    int ok = net_header_read(out, &ch);
    if (ok != (out.size() >= static_cast<size_t>(NET_HEADER_SIZE) ? 1 : 0)) abort();
    if (net_header_read(out, &hh) != ok) abort();
    if (ok) {
        if (strlen(ch.uid) > 15 || strlen(ch.name) > 15 || strlen(ch.token) > 15 || strlen(ch.type) > 15) abort();
        if (strcmp(ch.type, hh.type) != 0) abort();
    }
    return 0;
}
