// qel_json and JSON_parser: writer, reader, refusals, log lines and hostile input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "ruvezor/ext/json/JSON_parser.h"
#include "ruvezor/util/qel_json.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

struct Decoded {
    int rc;
    var out;
    std::string log;
};

Decoded decode(const std::string& text) {
    Decoded d;
    CaptureStdout();
    d.rc = json_decode(d.out, text.data(), text.size());
    d.log = GetCapturedStdout();
    return d;
}

// Decodes and writes back; "!" marks a refusal.
std::string round(const std::string& text) {
    Decoded d = decode(text);
    return d.rc ? "!" : json_encode(d.out);
}

bool logged(const Decoded& d, const std::string& line) { return d.log.find(line) != std::string::npos; }

// ---- writing ----------------------------------------------------------------

TEST(JsonEncode, CompactWithSortedKeys) {
    var k1("b"), v1(1), k2("a");
    var t(true), n, x("x");
    var list(3, 3, &t, &n, &x);
    var d(4, 4, &k1, &v1, &k2, &list);
    EXPECT_EQ(json_encode(d), "{\"a\":[true,null,\"x\"],\"b\":1}");
    EXPECT_EQ(json_encode(var(3, 0)), "[]");
    EXPECT_EQ(json_encode(var(4, 0)), "{}");
    EXPECT_EQ(json_encode(var()), "null");
    EXPECT_EQ(json_encode(var(false)), "false");
    EXPECT_EQ(json_encode(var(2.5)), "2.5");
    EXPECT_EQ(json_encode(var(-3)), "-3");
    EXPECT_EQ(json_encode(var(1.0 / 3)), "0.333333");
}

TEST(JsonEncode, StringEscapes) {
    EXPECT_EQ(json_encode(var("\t\"")), "\"\\t\\\"\"");
    EXPECT_EQ(json_encode(var("\x01")), "\"\\u0001\"");
    EXPECT_EQ(json_encode(var("\\/\b\f\n\r")), "\"\\\\/\\b\\f\\n\\r\"");
    EXPECT_EQ(json_encode(var("\x1f\x0b")), "\"\\u001f\\u000b\"");
    EXPECT_EQ(json_encode(var("caf\xc3\xa9 \x80\xff\x7f")), "\"caf\xc3\xa9 \x80\xff\x7f\"");
    var k("k\n");
    var v(1);
    EXPECT_EQ(json_encode(var(4, 2, &k, &v)), "{\"k\\n\":1}");
}

TEST(JsonEncode, NulByteIsEscapedNotCut) {
    EXPECT_EQ(json_encode(var(std::string("a\0b", 3))), "\"a\\u0000b\"");
    // And it reads back as the same three bytes.
    Decoded d = decode("[\"a\\u0000b\"]");
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.out[0].__str__(), std::string("a\0b", 3));
}

TEST(JsonEncode, NonFiniteNumbersAreNull) {
    var a(NAN), b(INFINITY), c(-INFINITY);
    EXPECT_EQ(json_encode(var(3, 3, &a, &b, &c)), "[null,null,null]");
    EXPECT_EQ(round("[1e999,-1e999]"), "[null,null]");
}

TEST(JsonEncode, SelfContainingListEnds) {
    var l(3, 0);
    list_append(l, var(1));
    list_append(l, l);
    list_append(l, l);
    CaptureStdout();
    std::string s = json_encode(l);
    GetCapturedStdout();
    EXPECT_EQ(s, "[1,null,null]");
    l.__del__(var(1));  // break the cycle so the list is freed
    l.__del__(var(1));
}

// ---- reading: values --------------------------------------------------------

TEST(JsonDecode, ObjectWithNestedList) {
    Decoded d = decode("{\"b\": 1, \"a\": [true, null, \"x\"]}");
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.log, "");
    ASSERT_EQ(d.out.__type__(), 4);
    EXPECT_EQ(d.out.__len__(), 2);
    EXPECT_EQ(d.out["b"].__num__(), 1);
    var a = d.out["a"];
    ASSERT_EQ(a.__len__(), 3);
    EXPECT_EQ(a[0].__type__(), 5);
    EXPECT_EQ(a[1].__type__(), 0);
    EXPECT_EQ(a[2].__str__(), "x");
    EXPECT_EQ(json_encode(d.out), "{\"a\":[true,null,\"x\"],\"b\":1}");
}

TEST(JsonDecode, Scalars) {
    EXPECT_EQ(round("[0, -0, 12, -7, 0.5, 0.5e3, 1e3, 1E+2, 2.5e-1, -0.125]"), "[0,0,12,-7,0.5,500,1000,100,0.25,-0.125]");
    EXPECT_EQ(round("[true,false,null]"), "[true,false,null]");
    EXPECT_EQ(round("{\"k\":{\"j\":[]},\"e\":{}}"), "{\"e\":{},\"k\":{\"j\":[]}}");
    EXPECT_EQ(round(" \t\r\n[ 1 , 2 ]\n "), "[1,2]");
    Decoded d = decode("[\"x\", \"\"]");
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.out[1].__type__(), 2);
    EXPECT_EQ(d.out[1].__len__(), 0);
}

TEST(JsonDecode, DuplicateKeyKeepsTheLaterValue) {
    EXPECT_EQ(round("{\"a\":1,\"a\":[2]}"), "{\"a\":[2]}");
}

TEST(JsonDecode, StringEscapes) {
    Decoded d = decode("[\"\\u00e9\"]");
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.out[0].__str__(), "\xc3\xa9");
    d = decode("[\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u0041\\u20AC\\ud83d\\ude00\"]");
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.out[0].__str__(), "\"\\/\b\f\n\r\tA\xe2\x82\xac\xf0\x9f\x98\x80");
    d = decode("{\"\\u006b\":1}");
    ASSERT_EQ(d.rc, 0);
    EXPECT_TRUE(d.out.__has__(var("k")));
}

TEST(JsonDecode, RawHighBytesInStringsAreKept) {
    Decoded d = decode("[\"caf\xc3\xa9\", \"\xff\xfe\x80\"]");
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.out[0].__str__(), "caf\xc3\xa9");
    EXPECT_EQ(d.out[1].__str__(), "\xff\xfe\x80");
    EXPECT_EQ(round("{\"\xe2\x82\xac\":\"\xe2\x82\xac\"}"), "{\"\xe2\x82\xac\":\"\xe2\x82\xac\"}");
    // Outside strings they are still wrong.
    EXPECT_EQ(decode("[\xc3\xa9]").rc, 1);
}

TEST(JsonDecode, IntegersKeepFullDoublePrecision) {
    EXPECT_EQ(round("[9007199254740991]"), "[9007199254740991.0]");
    EXPECT_EQ(round("[-9007199254740992]"), "[-9007199254740992.0]");
    EXPECT_EQ(round("[4294967296]"), "[4294967296.0]");
    Decoded d = decode("{\"id\":76561198012345678}");
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.out["id"].__num__(), 76561198012345678.0);
    d = decode("[123456789012345678901234567890]");
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.out[0].__num__(), 123456789012345678901234567890.0);
}

TEST(JsonDecode, ThirtyTwoBitIntegersReadExactly) {
    // Every 32-bit value must come out as it did when integers were read as 32 bits.
    std::vector<int64_t> values = {0, 1, -1, INT32_MAX, INT32_MIN, INT32_MAX - 1, INT32_MIN + 1, 65536, -65536};
    std::mt19937 rng(7);
    for (int i = 0; i < 20000; i++) values.push_back((int32_t)rng());
    std::string text = "[";
    for (size_t i = 0; i < values.size(); i++) text += (i ? "," : "") + std::to_string(values[i]);
    text += "]";
    Decoded d = decode(text);
    ASSERT_EQ(d.rc, 0);
    ASSERT_EQ(d.out.__len__(), (int)values.size());
    for (size_t i = 0; i < values.size(); i++) {
        var e = d.out[(int)i];
        ASSERT_EQ(e.__num__(), (double)values[i]);
        ASSERT_EQ(e.__str__(), std::to_string(values[i]));
        ASSERT_EQ((int)e, (int32_t)values[i]);
    }
}

TEST(JsonDecode, BlockCommentsStandForWhitespace) {
    EXPECT_EQ(round("[/* one */1]"), "[1]");
    EXPECT_EQ(round("/*a*/{/*b*/\"k\"/*c*/:/*d*/2/*e*/,\"j\":true/**/}/*f**/"), "{\"j\":true,\"k\":2}");
    EXPECT_EQ(round("[1/*x*/,2]"), "[1,2]");
    EXPECT_EQ(round("[\"/* kept */\"]"), "[\"/* kept */\"]");
}

TEST(JsonDecode, EmptyOrBlankTextLeavesOutUnchanged) {
    var out("before");
    EXPECT_EQ(json_decode(out, "", 0), 0);
    EXPECT_EQ(out.__str__(), "before");
    EXPECT_EQ(json_decode(out, "  \n/* nothing */ ", 17), 0);
    EXPECT_EQ(out.__str__(), "before");
    EXPECT_EQ(json_decode(out, nullptr, 10), 0);
    EXPECT_EQ(out.__str__(), "before");
}

TEST(JsonDecode, StopsAtTheLengthOrTheFirstNul) {
    var out;
    EXPECT_EQ(json_decode(out, "[1][2]", 3), 0);
    EXPECT_EQ(json_encode(out), "[1]");
    std::string text("[2]\0garbage", 11);
    EXPECT_EQ(json_decode(out, text.data(), text.size()), 0);
    EXPECT_EQ(json_encode(out), "[2]");
    std::string cut("[\"a\0b\"]", 7);
    CaptureStdout();
    EXPECT_EQ(json_decode(out, cut.data(), cut.size()), 1);
    EXPECT_NE(GetCapturedStdout().find("JSON_parser_end: syntax error\n"), std::string::npos);
}

// ---- reading: refusals and log lines ----------------------------------------

TEST(JsonDecode, SyntaxErrorLogLines) {
    const char* cases[][2] = {{"[1, 2", "JSON_parser_end: syntax error\n"},
                              {"[1, 2,]", "JSON_parser_char: syntax error, byte 6\n"},
                              {"42", "JSON_parser_char: syntax error, byte 0\n"}};
    for (auto& c : cases) {
        Decoded d = decode(c[0]);
        EXPECT_EQ(d.rc, 1) << c[0];
        EXPECT_TRUE(logged(d, c[1])) << d.log;
        EXPECT_EQ(std::count(d.log.begin(), d.log.end(), '\n'), 1) << "one line per failure: " << d.log;
    }
}

TEST(JsonDecode, OutKeepsWhatWasBuiltBeforeAnError) {
    Decoded d = decode("[1, [2, x]]");
    EXPECT_EQ(d.rc, 1);
    EXPECT_EQ(json_encode(d.out), "[1,[2]]");
    d = decode("x[1]");
    EXPECT_EQ(d.rc, 1);
    EXPECT_EQ(d.out.__type__(), 0);
}

TEST(JsonDecode, Refusals) {
    for (const char* bad : {
             "42", "\"s\"", "true", "null",       // top level must be a container
             "[0e3]", "[01]", "[-]", "[1.]", "[.5]", "[1e]", "[1e+]", "[+1]", "[-01]",
             "[// line\n1]", "[1]//", "[1]/", "[/* open",
             "[tru]", "[True]", "[nul]", "[falsee]", "[NaN]", "[Infinity]",
             "[\"tab\there\"]", "[\"lf\nhere\"]", "[\"\\x\"]", "[\"\\u12g4\"]", "[\"\\u12\"]",
             "[\"\\ud800\"]", "[\"\\ud800\\u0041\"]", "[\"\\udc00\"]", "[\"\\ud800x\"]",
             "{1:2}", "{\"a\" 1}", "{\"a\":1,}", "{\"a\"}", "[1 2]", "[1,,2]", "[1}", "{\"a\":1]",
             "[1]]", "[1],", "[1][2]", "[1]{}", "{}x", "[\x01]", "[\"\x1f\"]", "[1]\x7f",
             "[", "{", "{\"a\":", "[\"abc", "[\"abc\\"}) {
        Decoded d = decode(bad);
        EXPECT_EQ(d.rc, 1) << bad;
        EXPECT_NE(d.log.find("JSON_parser_"), std::string::npos) << bad;
    }
}

TEST(JsonDecode, NestingLimitIsSixteen) {
    std::string ok16 = std::string(16, '[') + std::string(16, ']');
    EXPECT_EQ(round(ok16), ok16);
    Decoded d = decode(std::string(17, '[') + std::string(17, ']'));
    EXPECT_EQ(d.rc, 1);
    EXPECT_TRUE(logged(d, "JSON_parser_char: syntax error, byte 16\n")) << d.log;
    std::string objs;
    for (int i = 0; i < 16; i++) objs += "{\"a\":";
    objs += "1" + std::string(16, '}');
    EXPECT_EQ(round(objs), objs);
}

// ---- push parser directly ---------------------------------------------------

struct Tokens {
    std::vector<int> types;
    std::vector<std::string> texts;
    std::vector<long long> ints;
    std::vector<double> floats;
};

int record(void* ctx, int type, const JSON_value* v) {
    auto* t = static_cast<Tokens*>(ctx);
    t->types.push_back(type);
    if (type == JSON_T_STRING || type == JSON_T_KEY || type == JSON_T_INTEGER || type == JSON_T_FLOAT)
        t->texts.emplace_back(v->str.value, v->str.length);
    if (type == JSON_T_INTEGER) t->ints.push_back(v->integer_value);
    if (type == JSON_T_FLOAT) t->floats.push_back(v->float_value);
    return 1;
}

struct Parser {
    Tokens tokens;
    JSON_parser jc;
    explicit Parser(int depth = 16, int comments = 1, int manual = 0) {
        JSON_config c;
        init_JSON_config(&c);
        c.callback = record;
        c.callback_ctx = &tokens;
        c.depth = depth;
        c.allow_comments = comments;
        c.handle_floats_manually = manual;
        jc = new_JSON_parser(&c);
    }
    ~Parser() { delete_JSON_parser(jc); }
    // Index of the refused byte, or -1 when every byte was taken.
    int feed(const std::string& s) {
        for (size_t i = 0; i < s.size(); i++)
            if (!JSON_parser_char(jc, (unsigned char)s[i])) return (int)i;
        return -1;
    }
};

TEST(JsonParser, TokensAndValues) {
    Parser p;
    ASSERT_EQ(p.feed("{\"k\":[-12,2.5e1,\"s\",true,false,null]}"), -1);
    EXPECT_TRUE(JSON_parser_done(p.jc));
    std::vector<int> want = {JSON_T_OBJECT_BEGIN, JSON_T_KEY,  JSON_T_ARRAY_BEGIN, JSON_T_INTEGER,
                             JSON_T_FLOAT,        JSON_T_STRING, JSON_T_TRUE,      JSON_T_FALSE,
                             JSON_T_NULL,         JSON_T_ARRAY_END, JSON_T_OBJECT_END};
    EXPECT_EQ(p.tokens.types, want);
    EXPECT_EQ(p.tokens.texts, (std::vector<std::string>{"k", "-12", "2.5e1", "s"}));
    EXPECT_EQ(p.tokens.ints, std::vector<long long>{-12});
    EXPECT_EQ(p.tokens.floats, std::vector<double>{25.0});
}

TEST(JsonParser, ErrorCodes) {
    auto code = [](const std::string& s, int depth = 16, int comments = 1) {
        Parser p(depth, comments);
        p.feed(s);
        return JSON_parser_get_last_error(p.jc);
    };
    const std::pair<const char*, int> cases[] = {
        {"[1]", JSON_E_NONE},                         {"[\x02", JSON_E_INVALID_CHAR},
        {"[trux", JSON_E_INVALID_KEYWORD},            {"[\"\\q", JSON_E_INVALID_ESCAPE_SEQUENCE},
        {"[\"\\uzz", JSON_E_INVALID_UNICODE_SEQUENCE}, {"[0e3]", JSON_E_INVALID_NUMBER},
        {"[}", JSON_E_INVALID_CHAR},                  {"[1}", JSON_E_UNBALANCED_COLLECTION},
        {"{\"a\":1]", JSON_E_UNBALANCED_COLLECTION},    {"{1", JSON_E_EXPECTED_KEY},
        {"{\"a\" 1", JSON_E_EXPECTED_COLON}};
    for (const auto& [text, error] : cases) EXPECT_EQ(code(text), error) << text;
    EXPECT_EQ(code("[[[", 2), JSON_E_NESTING_DEPTH_REACHED);
    EXPECT_EQ(code("[/**/1]", 16, 0), JSON_E_INVALID_CHAR);
}

TEST(JsonParser, DoneResetAndStickyErrors) {
    Parser p;
    EXPECT_TRUE(JSON_parser_done(p.jc));  // nothing fed yet
    EXPECT_EQ(p.feed("[1"), -1);
    EXPECT_FALSE(JSON_parser_done(p.jc));
    EXPECT_EQ(p.feed("x"), 0);
    EXPECT_EQ(p.feed("]"), 0);  // stays refused until reset
    EXPECT_FALSE(JSON_parser_done(p.jc));
    EXPECT_TRUE(JSON_parser_reset(p.jc));
    EXPECT_EQ(JSON_parser_get_last_error(p.jc), JSON_E_NONE);
    EXPECT_EQ(p.feed("{}"), -1);
    EXPECT_TRUE(JSON_parser_done(p.jc));
    // Signed and unsigned forms of a high byte are the same byte.
    EXPECT_EQ(p.feed("x") , 0);
    JSON_parser_reset(p.jc);
    EXPECT_EQ(JSON_parser_char(p.jc, '['), 1);
    EXPECT_EQ(JSON_parser_char(p.jc, '"'), 1);
    EXPECT_EQ(JSON_parser_char(p.jc, -23), 1);
    EXPECT_EQ(JSON_parser_char(p.jc, 0xE9), 1);
    EXPECT_EQ(JSON_parser_char(p.jc, 300), 0);
}

TEST(JsonParser, ManualFloatsLeaveTheValueToTheCaller) {
    Parser p(16, 1, 1);
    ASSERT_EQ(p.feed("[2.5]"), -1);
    ASSERT_EQ(p.tokens.floats.size(), 1u);
    EXPECT_EQ(p.tokens.floats[0], 0.0);
    EXPECT_EQ(p.tokens.texts[0], "2.5");
}

TEST(JsonParser, WhiteSpaceStrings) {
    EXPECT_EQ(JSON_parser_is_legal_white_space_string(""), 1);
    EXPECT_EQ(JSON_parser_is_legal_white_space_string(" \t\r\n"), 1);
    EXPECT_EQ(JSON_parser_is_legal_white_space_string(" x "), 0);
    EXPECT_EQ(JSON_parser_is_legal_white_space_string("\v"), 0);
    EXPECT_EQ(JSON_parser_is_legal_white_space_string(nullptr), 0);
}

TEST(JsonParser, FailingAllocatorGivesOutOfMemory) {
    static int budget;
    struct Alloc {
        static void* take(size_t n) { return budget-- > 0 ? malloc(n) : nullptr; }
    };
    budget = 2;  // the parser and its mode stack, nothing for the token buffer
    JSON_config c;
    init_JSON_config(&c);
    c.malloc = Alloc::take;
    c.free = free;
    JSON_parser jc = new_JSON_parser(&c);
    ASSERT_NE(jc, nullptr);
    std::string s = "[\"" + std::string(200, 'x');
    int rc = 1;
    for (char ch : s) rc = rc && JSON_parser_char(jc, (unsigned char)ch);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(JSON_parser_get_last_error(jc), JSON_E_OUT_OF_MEMORY);
    delete_JSON_parser(jc);
    budget = 1;
    EXPECT_EQ(new_JSON_parser(&c), nullptr);
}

// ---- hostile input ----------------------------------------------------------

// A successful decode writes text that decodes again, and is stable from the
// second pass on (the first may shorten numbers to the text form).
void check_stable(const std::string& input) {
    Decoded d = decode(input);
    ASSERT_TRUE(d.rc == 0 || d.rc == 1);
    if (d.rc == 1) {
        ASSERT_NE(d.log.find("JSON_parser_"), std::string::npos);
        return;
    }
    if (d.out.__type__() == 0) return;  // only whitespace and comments
    std::string once = json_encode(d.out);
    Decoded again = decode(once);
    ASSERT_EQ(again.rc, 0) << once;
    std::string twice = json_encode(again.out);
    Decoded third = decode(twice);
    ASSERT_EQ(third.rc, 0);
    ASSERT_EQ(json_encode(third.out), twice);
}

TEST(JsonHostile, VeryDeepNesting) {
    Decoded d = decode(std::string(100000, '['));
    EXPECT_EQ(d.rc, 1);
    EXPECT_TRUE(logged(d, "byte 16\n"));
    std::string objs;
    for (int i = 0; i < 100000; i++) objs += "{\"a\":";
    d = decode(objs);
    EXPECT_EQ(d.rc, 1);
    std::string mixed;
    for (int i = 0; i < 50000; i++) mixed += "[{\"k\":";
    d = decode(mixed);
    EXPECT_EQ(d.rc, 1);
}

TEST(JsonHostile, HugeTokens) {
    std::string big_str = "[\"" + std::string(3 << 20, 'q') + "\"]";
    Decoded d = decode(big_str);
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.out[0].__len__(), 3 << 20);
    d = decode("[" + std::string(1 << 20, '9') + "]");
    ASSERT_EQ(d.rc, 0);
    EXPECT_TRUE(std::isinf(d.out[0].__num__()));
    d = decode("[0." + std::string(1 << 20, '0') + "1e1048577, 1e-99999999, -1e99999999]");
    ASSERT_EQ(d.rc, 0);
    EXPECT_NEAR(d.out[0].__num__(), 1.0, 1e-12);
    EXPECT_EQ(d.out[1].__num__(), 0.0);
    EXPECT_TRUE(std::isinf(d.out[2].__num__()));
    EXPECT_EQ(json_encode(d.out), "[1,0,null]");
    std::string many = "[";
    for (int i = 0; i < 200000; i++) many += "1,";
    many += "1]";
    d = decode(many);
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.out.__len__(), 200001);
    std::string key(1 << 20, 'k');
    check_stable("{\"" + key + "\":[\"" + key + "\"]}");
}

TEST(JsonHostile, TruncatedDocuments) {
    std::string doc =
        "{\"users\":[{\"id\":76561198012345678,\"name\":\"p\\u00e9\\ud83d\\ude00\",\"ok\":true},"
        "{\"id\":-2,\"name\":null,\"r\":[0.5e3,1E2,-0,/*c*/\"\\\\\\/\"]}],\"n\":{}}";
    ASSERT_EQ(decode(doc).rc, 0);
    for (size_t n = 0; n < doc.size(); n++) {
        var out;
        CaptureStdout();
        int rc = json_decode(out, doc.data(), n);
        std::string log = GetCapturedStdout();
        if (n == 0)
            EXPECT_EQ(rc, 0);
        else
            EXPECT_EQ(rc, 1) << n;
        if (rc) {
            EXPECT_NE(log.find("JSON_parser_end: syntax error\n"), std::string::npos);
        }
    }
}

TEST(JsonHostile, RandomAndMutatedInputs) {
    const std::vector<std::string> seeds = {
        "{\"b\":1,\"a\":[true,null,\"x\"]}",
        "[/*c*/0.5,-12,1e3,\"\\u00e9\\ud83d\\ude00\",{\"k\":[[],{}]}]",
        "{\"s\":\"\\\"\\\\\\/\\b\\f\\n\\r\\t\",\"n\":-0.0e-0,\"z\":[false]}",
        "[[[[[[[[[[[[[[[[1]]]]]]]]]]]]]]]]",
        "{\"\xc3\xa9\":\"\xff\",\"id\":9007199254740993}",
    };
    const std::string alphabet = "{}[]:,\"\\/*+-.0123456789abcdefElnrstuEAF \t\n\r\x01\x7f\x80\xff";
    std::mt19937 rng(20261208);
    auto pick = [&](size_t n) { return (size_t)(rng() % (n ? n : 1)); };
    for (int iter = 0; iter < 4000; iter++) {
        std::string s;
        if (iter % 4 == 0) {
            // Pure noise over JSON's own characters.
            size_t len = pick(64);
            for (size_t i = 0; i < len; i++) s += alphabet[pick(alphabet.size())];
        } else {
            s = seeds[pick(seeds.size())];
            int edits = 1 + (int)pick(4);
            for (int e = 0; e < edits && !s.empty(); e++) {
                size_t at = pick(s.size());
                switch (pick(6)) {
                case 0: s[at] = (char)rng(); break;
                case 1: s[at] = alphabet[pick(alphabet.size())]; break;
                case 2: s.erase(at, 1 + pick(4)); break;
                case 3: s.insert(at, 1, alphabet[pick(alphabet.size())]); break;
                case 4: s.insert(at, s.substr(pick(s.size()), pick(12))); break;
                default: s.resize(at); break;
                }
            }
        }
        SCOPED_TRACE(s);
        check_stable(s);
        if (HasFatalFailure()) return;
    }
}

}  // namespace
