// game_web_sync: documents the web API places in the document directory and
// takes away again.
//
// "sync.dat" (document directory) is compact JSON: document name -> number.
//   > 0  written by sync, which may remove it again
//   0    not managed (a missing name reads as 0)
//   -1   the file existed before the server first listed it; left alone
// The server's message is {"sync": {name: number}, "data": {name: base64}}.
// Sync never overwrites a file it did not write and never writes outside the
// document directory.
//
// One message writes or removes at most SYNC_CHANGES_MAX documents: each is
// a durable save on the frame loop, and a server listing thousands would
// freeze the game for minutes. New and changed versions go first; the rest
// stay as sync.dat had them, so the next login brings them again.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "shell/game_parts.h"
#include "web/game_web.h"
#include "ruvezor/util/qel_base64.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_json.h"
#include "ruvezor/util/qel_log.h"

static const char* const SYNC_FILE = "sync.dat";

// ==== internal helpers ===============================================================

// A dict decoded from text; an empty dict for empty text, non-JSON or non-dict.
static var _sync_dict(const std::string& text) {
    var out;
    if (!text.empty() && json_decode(out, text.data(), text.size()) == 0 &&
        out.__type__() == VAR_DICT)
        return out;
    return var(VAR_DICT, 0);
}

static var _sync_member_dict(var& v, const char* key) {
    if (v.__type__() == VAR_DICT && v.__has__(var(key))) {
        var m = v[key];
        if (m.__type__() == VAR_DICT) return m;
    }
    return var(VAR_DICT, 0);
}

// The keys first, so that the dict may change while they are walked.
static std::vector<std::string> _sync_names(const var& dict) {
    std::vector<std::string> names;
    var walk(dict.__iter__());
    var key, value;
    while (walk.__pair__(key, value)) names.push_back(key.__str__());
    return names;
}

// ==== names and documents ============================================================

bool sync_fname_ok(std::string name) {
    std::string s = str_replace(name, "/", "_");
    s = str_replace(s, "\\", "_");
    s = str_replace(s, "..", "_");
    // An empty name is the directory itself; a NUL byte would cut the file
    // name short of the name that is recorded.
    if (s == name && !name.empty() && name.find('\0') == std::string::npos) return true;
    qel_log("sync: invalid filename '%s'\n", name.c_str());
    return false;
}

float sync_get_value(var& dict, std::string name) {
    if (dict.__type__() != VAR_DICT || !dict.__has__(var(name))) return 0.0f;
    return (float)dict.__get__(var(name)).__num__();
}

bool sync_doc_save(std::string name, std::string bytes) {
    return driver_doc_save(name.c_str(), bytes.data(), (int)bytes.size()) != 0;
}

void sync_doc_remove(std::string name) {
    if (!driver_doc_exists(name.c_str())) return;
    driver_doc_save(name.c_str(), "", 0);
    remove(driver_doc_fname(name.c_str()));
}

// ==== one message ====================================================================

void game_web_handle_sync(GameParts&, std::string text) {
    if (text.empty()) return;

    // A message that is not a JSON object would read as an empty list and
    // remove every managed document: it is dropped instead.
    var msg;
    if (json_decode(msg, text.data(), text.size()) != 0) return;
    if (msg.__type__() != VAR_DICT) {
        qel_log("sync: message is not an object\n");
        return;
    }
    // So would one whose list is missing or not a list at all: the server
    // says what it keeps only with a list, an empty one ({} or [], as some
    // servers write an empty map) when it keeps nothing.
    var list = msg.__has__(var("sync")) ? msg["sync"] : var();
    bool empty_array = list.__type__() == VAR_LIST && list.__len__() == 0;
    if (list.__type__() != VAR_DICT && !empty_array) {
        qel_log("sync: message has no list of documents, dropped\n");
        return;
    }
    std::string old_text = driver_doc_load(SYNC_FILE);
    var old = _sync_dict(old_text);
    var cur = _sync_member_dict(msg, "sync");
    var data = _sync_member_dict(msg, "data");
    qel_log("sync: old = %s\n", old_text.c_str());
    qel_log("sync: cur = %s\n", json_encode(cur).c_str());

    for (const var* d : {&old, &cur, &data})
        for (const std::string& name : _sync_names(*d))
            if (!sync_fname_ok(name)) return;

    // A version sync.dat cannot hold as it came (infinity becomes null, a
    // tiny one 0.0) would leave its document behind unmanaged: such a
    // document is not taken.
    for (const std::string& name : _sync_names(cur)) {
        double v = cur.__get__(var(name)).__num__();
        if (std::isfinite(v) && (v <= 0 || strtod(var(v).__str__().c_str(), nullptr) > 0)) continue;
        qel_log("sync: '%s' has a version that cannot be kept, skipped\n", name.c_str());
        cur.__set__(var(name), var(-1));
    }

    for (const std::string& name : _sync_names(cur)) {
        if (!driver_data_exists(name.c_str()) && !driver_doc_exists(name.c_str())) continue;
        if (sync_get_value(old, name) > 0) continue;
        old.__set__(var(name), var(-1));
        cur.__set__(var(name), var(-1));
        qel_log("sync: ignore '%s' already exists\n", name.c_str());
    }

    // Puts back what sync.dat held for a document this message leaves as it is.
    auto keep_old = [&](const std::string& name) {
        if (old.__has__(var(name))) cur.__set__(var(name), old.__get__(var(name)));
        else if (cur.__has__(var(name))) cur.__del__(var(name));
    };
    // New and changed versions first, so that a list longer than one
    // message may change is taken in full over a few logins.
    std::vector<std::string> order, same;
    for (const std::string& name : _sync_names(data))
        (sync_get_value(old, name) != sync_get_value(cur, name) ? order : same).push_back(name);
    order.insert(order.end(), same.begin(), same.end());
    int changes = 0, deferred = 0;
    for (const std::string& name : order) {
        // A name the list leaves out is not protected above; it must not
        // overwrite a file that sync did not write either.
        bool unlisted_existing = !cur.__has__(var(name)) && sync_get_value(old, name) <= 0 &&
                                 (driver_data_exists(name.c_str()) || driver_doc_exists(name.c_str()));
        if (!unlisted_existing && sync_get_value(old, name) >= 0 && sync_get_value(cur, name) >= 0) {
            if (changes >= SYNC_CHANGES_MAX) {
                if (cur.__has__(var(name))) keep_old(name);
                deferred++;
                continue;
            }
            changes++;
            std::string bytes = base64_decode(data.__get__(var(name)).__str__());
            qel_log("sync: adding '%s' %d bytes\n", name.c_str(), (int)bytes.size());
            if (!sync_doc_save(name, bytes) && cur.__has__(var(name))) {
                // The old file is still there (or none): the record keeps
                // what the disk holds, so the next login fetches it again.
                qel_log("sync: '%s' not written, its old version kept\n", name.c_str());
                keep_old(name);
            }
        } else {
            qel_log("sync: skipped '%s'\n", name.c_str());
        }
    }

    for (const std::string& name : _sync_names(old)) {
        if (!(sync_get_value(old, name) > 0) || sync_get_value(cur, name) != 0) continue;
        if (changes >= SYNC_CHANGES_MAX) {
            keep_old(name);
            deferred++;
            continue;
        }
        changes++;
        if (cur.__has__(var(name))) cur.__del__(var(name));
        qel_log("sync: removing '%s'", name.c_str());
        sync_doc_remove(name);
    }

    if (deferred)
        qel_log("sync: %d documents left for the next login, at most %d change at once\n", deferred,
                (int)SYNC_CHANGES_MAX);
    std::string out = json_encode(cur);
    if (!driver_doc_save(SYNC_FILE, out.data(), (int)out.size())) qel_log("sync: %s not saved\n", SYNC_FILE);
    qel_log("sync: new = %s\n", out.c_str());
}
