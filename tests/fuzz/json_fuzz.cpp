// libFuzzer entry for the JSON reader: any byte string must give a value or a
// logged refusal. A value must write back as text that reads again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ruvezor/util/qel_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    var out;
    int rc = json_decode(out, reinterpret_cast<const char*>(data), size);
    if (rc != 0 && rc != 1) abort();
    if (rc == 0 && out.__type__() != VAR_NONE) {
        std::string text = json_encode(out);
        var again;
        if (json_decode(again, text.data(), text.size()) != 0) abort();
        // From the second pass on the text is stable.
        std::string twice = json_encode(again);
        var third;
        if (json_decode(third, twice.data(), twice.size()) != 0) abort();
        if (json_encode(third) != twice) abort();
    }
    return 0;
}
