// Fuzz entry for the markup tokenizer: any bytes must give a list of dicts whose
// values are strings, or the number 1 under "closed".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ruvezor/util/qel_html.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    var list = html_parse(text);
    if (list.__type__() != VAR_LIST) abort();
    size_t opens = 0;
    for (char c : text) opens += c == '<';
    if ((size_t)list.__len__() > opens) abort();
    for (int i = 0; i < list.__len__(); i++) {
        var& rec = list[i];
        if (rec.__type__() != VAR_DICT) abort();
        var it(rec.__iter__());
        var k, v;
        while (it.__pair__(k, v)) {
            if (v.__type__() == VAR_STRING) continue;
            if (v.__type__() != VAR_NUMBER || k.__str__() != "closed" || v.__num__() != 1.0) abort();
        }
    }
    return 0;
}
