// qel_base64: Base64 text for bytes (standard alphabet, "=" padding, no line breaks).
#pragma once

#include <string>

// The alphabet; a character's position is its 6-bit value.
extern const char* base64_chars;

std::string base64_encode(const unsigned char* bytes, unsigned int len);

// Decodes up to the first "=" or the first character outside the alphabet;
// padding is optional and a truncated text gives what was decoded so far.
std::string base64_decode(const std::string& text);
