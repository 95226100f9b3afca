#include "ext/lua/cj-fpconv.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>

#include <locale.h>  // newlocale, uselocale, strtod_l

// One "C" numeric locale for the whole run; made on first use.
static locale_t fpconv_c_locale() {
    static locale_t loc = newlocale(LC_NUMERIC_MASK, "C", (locale_t)0);
    return loc;
}

double fpconv_strtod(const char* nptr, char** endptr) {
    locale_t loc = fpconv_c_locale();
    if (loc) return strtod_l(nptr, endptr, loc);
    return strtod(nptr, endptr);
}

int fpconv_g_fmt(char* buf, double num, int precision) {
    if (precision < 1) precision = 1;
    if (precision > 14) precision = 14;
    locale_t loc = fpconv_c_locale();
    locale_t old = loc ? uselocale(loc) : (locale_t)0;
    int len = snprintf(buf, FPCONV_G_FMT_BUFSIZE, "%.*g", precision, num);
    if (loc) uselocale(old);
    if (len < 0) len = 0;
    if (len >= FPCONV_G_FMT_BUFSIZE) len = FPCONV_G_FMT_BUFSIZE - 1;
    return len;
}
