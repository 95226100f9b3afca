// qel_json: JSON text to and from `var`.
//
// Output is compact (no whitespace) with dict keys in sorted byte order.
// Input must be an object or array at the top level, may hold block comments
// and nests at most 16 deep; a syntax error logs one line and returns 1.
#pragma once

#include <cstddef>
#include <string>

#include "ruvezor/util/qel_var.h"

// The JSON text of v. NaN and the infinities are written as null.
std::string json_encode(const var& v);

// Parses at most length bytes of text (stopping early at a NUL byte) into out.
// 0 on success, 1 on a syntax error; out keeps whatever was built before it.
int json_decode(var& out, const char* text, size_t length);
