// cj-fpconv: number text for the JSON module, always with a point as the
// decimal separator whatever the program's C locale says.
#pragma once

// Enough for any "%.14g" of a double, sign and exponent included.
constexpr int FPCONV_G_FMT_BUFSIZE = 32;

// strtod in the "C" locale: reads what strtod reads (hex, inf, nan too).
double fpconv_strtod(const char* nptr, char** endptr);
// Writes num as "%.<precision>g" (precision 1..14) into buf, which holds at
// least FPCONV_G_FMT_BUFSIZE bytes; returns the length.
int fpconv_g_fmt(char* buf, double num, int precision);
