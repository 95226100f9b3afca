// qel_md5: the MD5 message digest (RFC 1321), fed in pieces of any size.
//
// md5_state_s layout (88 bytes, native byte order, caller-owned):
//   0  count[2]  message length in bits, low word first
//   8  abcd[4]   chaining words A, B, C, D
//  24  buf[64]   partial block not yet mixed in
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct md5_state_s {
    uint32_t count[2];
    uint32_t abcd[4];
    uint8_t buf[64];
};
static_assert(sizeof(md5_state_s) == 88, "md5_state_s layout");
static_assert(offsetof(md5_state_s, abcd) == 8, "md5_state_s layout");
static_assert(offsetof(md5_state_s, buf) == 24, "md5_state_s layout");

void md5_init(md5_state_s* state);
// nbytes <= 0 feeds nothing.
void md5_append(md5_state_s* state, const unsigned char* data, int nbytes);
// Pads, appends the bit length and writes A, B, C, D, each low byte first.
void md5_finish(md5_state_s* state, unsigned char digest[16]);

// The digest of n bytes as 32 lowercase hexadecimal digits; any length.
std::string md5_hex(const void* data, size_t n);
