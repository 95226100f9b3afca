// preboard: the policy-gate status file, read once per run.
#include "world/preboard.h"

#include <string>

#include "ruvezor/util/qel_driver.h"  // driver_doc_load, driver_doc_save
#include "ruvezor/util/qel_log.h"

static const char* const PREBOARD_FILE = "preboard.txt";

// 0 not read yet, 1 accepted, -1 refused, -2 not answered.
static int _preboard_status = 0;

int preboard_get() {
    if (_preboard_status) return _preboard_status;
    _preboard_status = -2;
    // No file is the first run's normal case, not worth a line.
    if (!driver_doc_exists(PREBOARD_FILE)) return _preboard_status;
    std::string text = driver_doc_load(PREBOARD_FILE);
    if (text == "OK") {
        _preboard_status = 1;
    } else if (text == "FAIL") {
        _preboard_status = -1;
    } else if (!text.empty()) {
        // A damaged file is no answer: the gate asks again rather than
        // taking it for a refusal nobody gave.
        qel_log("preboard: %s holds no answer (%d bytes), asking again\n", PREBOARD_FILE,
                static_cast<int>(text.size()));
    }
    return _preboard_status;
}

void preboard_set(int status) {
    _preboard_status = status;
    const char* text = status == 1 ? "OK" : status == -1 ? "FAIL" : "";
    int n = 0;
    while (text[n]) n++;
    // The answer still holds for this run.
    if (!driver_doc_save(PREBOARD_FILE, text, n)) qel_log("preboard: %s not saved\n", PREBOARD_FILE);
}
