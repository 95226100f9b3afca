// Fuzz entry for the store's receipt files ("receipts.dat", "valid.dat") and
// the web API's verdicts on the receipts: any file contents, then any reply.
// The data sent to the web API must be an object of the two lists that
// writes as JSON and reads back; after a verdict, "valid.dat" must
// read back as an object that names every stored receipt, and "receipts.dat"
// must be as it was.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_bytes.h"
#include "fuzz_home.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_json.h"
#include "screens/ext_store.h"

namespace {

bool is_dict(const var& v) { return v.__type__() == VAR_DICT; }

// The text reads back as a JSON object.
bool reads_back(const std::string& text) {
    var again;
    return json_decode(again, text.data(), text.size()) == 0 && is_dict(again);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string docs = FuzzHome::fresh_docs();
    FuzzBytes in(data, size);
    std::string receipts = in.bytes(in.u16());
    std::string valid = in.bytes(in.u16());
    std::string reply = in.rest();
    FuzzHome::put(docs + "/receipts.dat", receipts);
    FuzzHome::put(docs + "/valid.dat", valid);

    var sent = ext_store_web_data();
    if (!is_dict(sent) || !is_dict(sent["receipts"]) || !is_dict(sent["valid"])) fuzz_fail("the data sent is no object");
    if (!reads_back(json_encode(sent))) fuzz_fail("the data sent does not read back");

    var verdicts;
    if (json_decode(verdicts, reply.data(), reply.size()) != 0) verdicts = var();
    ext_store_web_receipts_callback(verdicts);

    if (driver_doc_load("receipts.dat") != receipts) fuzz_fail("a verdict changed the receipts");
    var stored = ext_store_receipts_load();
    var now = ext_store_valid_load();
    if (!is_dict(stored) || !is_dict(now)) fuzz_fail("a file does not load as an object");
    std::string written = driver_doc_load("valid.dat");
    if (written != valid) {
        if (!reads_back(written)) fuzz_fail("valid.dat does not read back");
        var walk(stored.__iter__());
        var key, value;
        while (walk.__pair__(key, value))
            if (!now.__has__(key)) fuzz_fail("valid.dat leaves a receipt out");
    }
    return 0;
}
