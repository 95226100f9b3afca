// net_pack: packet headers and the run-length packing of every packet.
//
// Unpacked packet, client to host (64-byte header, then the value):
//   offset  size  field
//        0    16  uid    sender's account id
//       16    16  name   sender's display name
//       32    16  token  join token answering the host's challenge ("" without a key)
//       48    16  type   message type
//       64  rest  value  raw bytes, no terminator (length = packet length - 64)
//
// Unpacked packet, host to client:
//        0    48  reserved, zero
//       48    16  type
//       64  rest  value
//
// Text fields hold at most 15 characters, zero-terminated and zero-padded;
// readers force a zero into bytes 15, 31, 47 and 63 before use.
//
// Packed form: blocks, each led by a code byte c:
//   1..127     c literal bytes follow
//   129..255   one byte b follows: (c & 127) copies of b
//   0, 128 b   nothing (skipped; never written)
// Packed and unpacked results are cut at NET_PACK_SIZE bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/net.h"

constexpr int NET_HEADER_SIZE = 64;
constexpr int NET_PACK_SIZE = 65536;

struct NetClientHeader {
    char uid[16];
    char name[16];
    char token[16];
    char type[16];
};
static_assert(sizeof(NetClientHeader) == NET_HEADER_SIZE, "client header is 64 bytes");
static_assert(offsetof(NetClientHeader, uid) == 0, "client header layout");
static_assert(offsetof(NetClientHeader, name) == 16, "client header layout");
static_assert(offsetof(NetClientHeader, token) == 32, "client header layout");
static_assert(offsetof(NetClientHeader, type) == 48, "client header layout");

struct NetHostHeader {
    char reserved[48];
    char type[16];
};
static_assert(sizeof(NetHostHeader) == NET_HEADER_SIZE, "host header is 64 bytes");
static_assert(offsetof(NetHostHeader, reserved) == 0, "host header layout");
static_assert(offsetof(NetHostHeader, type) == 48, "host header layout");

// Both use one static buffer: main thread only, not reentrant.
// When cut is given it becomes 1 if the result was cut at NET_PACK_SIZE (or,
// unpacking, the input ended inside a block), else 0.
std::string net_pack(const std::string& bytes, int* cut = nullptr);
std::string net_unpack(const std::string& bytes, int* cut = nullptr);

// Packed host-to-client packet of the message. cut as for net_pack, and also
// 1 when the unpacked packet would not fit NET_PACK_SIZE at the receiver.
std::string net_build(const NetMessage& msg, int* cut = nullptr);
// The same into `out`, whose room is kept: a sender that builds many packets
// reuses one string.
void net_build_into(const NetMessage& msg, std::string& out, int* cut = nullptr);

// Packets of up to 8 KiB are packed from a mask of equal bytes on CPUs with
// AVX2, by the sixteen-byte packer elsewhere; both write the same bytes.
// 0 keeps every packet on the sixteen-byte packer and 2 builds the mask with
// AVX2 even where AVX-512 would, so tests run every way on any CPU; 1 (the
// default) lets the CPU choose again.
void _net_pack_masks(int on);

// Copies at most 15 characters into a 16-byte header field, zero-padded.
void net_header_field(char field[16], const std::string& text);

// Copies the header of an unpacked packet and forces the field terminators.
// Returns 0 (header untouched) when the packet is shorter than the header.
int net_header_read(const std::string& unpacked, NetClientHeader* out);
int net_header_read(const std::string& unpacked, NetHostHeader* out);
