// qel_json: JSON writer (recursive walk) and reader (push parser + builder).
#include "ruvezor/util/qel_json.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ruvezor/ext/json/JSON_parser.h"
#include "ruvezor/util/qel_log.h"

// ---- writing ----------------------------------------------------------------

// Values nest at most this deep on output; anything deeper, or a container
// that holds itself, is written as null instead of recursing without end.
enum { ENCODE_MAX_DEPTH = 256 };

static void encode_string(std::string& out, const std::string& s) {
    out += '"';
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case 8: out += "\\b"; break;
        case 9: out += "\\t"; break;
        case 10: out += "\\n"; break;
        case 12: out += "\\f"; break;
        case 13: out += "\\r"; break;
        default:
            if (c < 32) {
                // NUL included: cutting the text there would lose the rest of it.
                char buf[8];
                snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += (char)c;
            }
        }
    }
    out += '"';
}

static void encode_value(std::string& out, const var& v, std::vector<const var_object*>& path) {
    int t = v.__type__();
    if (t == VAR_LIST || t == VAR_DICT) {
        bool cyclic = false;
        for (const var_object* o : path) cyclic = cyclic || o == v._obj;
        if (cyclic || path.size() >= ENCODE_MAX_DEPTH) {
            qel_log("json_encode: value nested too deep, written as null\n");
            out += "null";
            return;
        }
    }
    switch (t) {
    case VAR_NUMBER: {
        double d = v.__num__();
        if (std::isfinite(d))
            out += v.__str__();
        else
            out += "null";  // JSON has no NaN or infinity
        break;
    }
    case VAR_STRING:
        encode_string(out, static_cast<const _var_string*>(v._obj)->value);
        break;
    case VAR_LIST: {
        path.push_back(v._obj);
        out += '[';
        bool first = true;
        for (const var& e : static_cast<const _var_list*>(v._obj)->value) {
            if (!first) out += ',';
            first = false;
            encode_value(out, e, path);
        }
        out += ']';
        path.pop_back();
        break;
    }
    case VAR_DICT: {
        path.push_back(v._obj);
        out += '{';
        bool first = true;
        for (const auto& kv : static_cast<const _var_dict*>(v._obj)->value) {
            if (!first) out += ',';
            first = false;
            encode_string(out, kv.first);
            out += ':';
            encode_value(out, kv.second, path);
        }
        out += '}';
        path.pop_back();
        break;
    }
    case VAR_BOOL:
        out += v.__bool__() ? "true" : "false";
        break;
    default:
        out += "null";
    }
}

std::string json_encode(const var& v) {
    std::string out;
    std::vector<const var_object*> path;
    encode_value(out, v, path);
    return out;
}

// ---- reading ----------------------------------------------------------------

struct JsonBuilder {
    var* out;
    std::vector<var> open;  // containers below the current one; none at the bottom
    var cur;                // the open container, none outside every container
    std::string key;        // last key read
};

static void builder_add(JsonBuilder& b, const var& v) {
    int t = b.cur.__type__();
    if (t == VAR_LIST)
        static_cast<_var_list*>(b.cur._obj)->value.push_back(v);
    else if (t == VAR_DICT)
        static_cast<_var_dict*>(b.cur._obj)->value[b.key] = v;
}

static int builder_callback(void* ctx, int type, const JSON_value* value) {
    JsonBuilder& b = *static_cast<JsonBuilder*>(ctx);
    switch (type) {
    case JSON_T_ARRAY_BEGIN:
    case JSON_T_OBJECT_BEGIN: {
        var c(type == JSON_T_ARRAY_BEGIN ? var(VAR_LIST, 0) : var(VAR_DICT, 0));
        if (b.cur.__type__() == VAR_NONE)
            *b.out = c;
        else
            builder_add(b, c);
        b.open.push_back(b.cur);
        b.cur = c;
        break;
    }
    case JSON_T_ARRAY_END:
    case JSON_T_OBJECT_END:
        if (!b.open.empty()) {
            b.cur = b.open.back();
            b.open.pop_back();
        }
        break;
    case JSON_T_INTEGER:
        // Read at full double precision: 64-bit ids must survive.
        builder_add(b, var(strtod(value->str.value, nullptr)));
        break;
    case JSON_T_FLOAT:
        builder_add(b, var(value->float_value));
        break;
    case JSON_T_NULL:
        builder_add(b, var());
        break;
    case JSON_T_TRUE:
        builder_add(b, var(true));
        break;
    case JSON_T_FALSE:
        builder_add(b, var(false));
        break;
    case JSON_T_STRING:
        builder_add(b, var(std::string(value->str.value, value->str.length)));
        break;
    case JSON_T_KEY:
        b.key.assign(value->str.value, value->str.length);
        break;
    }
    return 1;
}

int json_decode(var& out, const char* text, size_t length) {
    JsonBuilder b;
    b.out = &out;

    JSON_config config;
    init_JSON_config(&config);
    config.depth = 16;
    config.allow_comments = 1;
    config.callback = builder_callback;
    config.callback_ctx = &b;
    JSON_parser jc = new_JSON_parser(&config);
    if (!jc) {
        qel_log("JSON_parser_end: syntax error\n");
        return 1;
    }

    // Raw bytes of 0x80 and above are fed as they are: UTF-8 text in strings is kept.
    for (size_t i = 0; text && i < length && text[i] != '\0'; i++) {
        if (!JSON_parser_char(jc, (unsigned char)text[i])) {
            qel_log("JSON_parser_char: syntax error, byte %d\n", i > INT_MAX ? INT_MAX : (int)i);
            delete_JSON_parser(jc);
            return 1;
        }
    }
    int ok = JSON_parser_done(jc);
    delete_JSON_parser(jc);
    if (!ok) {
        qel_log("JSON_parser_end: syntax error\n");
        return 1;
    }
    return 0;
}
