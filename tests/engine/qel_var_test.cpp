// qel_var: object model, operations, text form and helpers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <string>

#include "ruvezor/util/qel_var.h"
#include "z2_test_util.h"

namespace {

using z2test::stdout_of;

// Runs f with the last-error text cleared and returns what it was left holding.
template <class F>
std::string error_of(F f) {
    var_get_errstr().clear();
    f();
    return var_get_errstr();
}

var list_of(std::initializer_list<var> items) {
    var l(3, 0);
    for (const var& v : items) list_append(l, v);
    return l;
}

std::string texts(var& l) { return str_join(",", l).__str__(); }

// ---- handle, sharing, construction ------------------------------------------

TEST(VarModel, NoneHandle) {
    var a, b;
    EXPECT_EQ(a.__type__(), 0);
    EXPECT_EQ(a._obj, nullptr);
    EXPECT_TRUE(a.__eq__(b));
    EXPECT_EQ(a.__str__(), "");
    EXPECT_EQ(a.__num__(), 0.0);
    EXPECT_FALSE(a.__bool__());
    EXPECT_FALSE(a.__lt__(b));
    EXPECT_EQ((int)a, 0);
    // A copied none is a real object that still behaves as none.
    var c(a.__copy__());
    ASSERT_NE(c._obj, nullptr);
    EXPECT_EQ(c.__type__(), 0);
    EXPECT_TRUE(c.__eq__(a));
    EXPECT_TRUE(a.__eq__(c));
    var it(a.__iter__());
    var out;
    EXPECT_FALSE(it.__next__(out));
}

TEST(VarModel, ConstructorsMakeTheirTypes) {
    EXPECT_EQ(var(1).__type__(), 1);
    EXPECT_EQ(var(1.5f).__type__(), 1);
    EXPECT_EQ(var(true).__type__(), 5);
    EXPECT_EQ(var("x").__type__(), 2);
    EXPECT_EQ(var(3, 0).__type__(), 3);
    EXPECT_EQ(var(4, 0).__type__(), 4);
    EXPECT_EQ(var(7, 0).__type__(), 0);
    const char* null_text = nullptr;
    EXPECT_EQ(var(null_text).__str__(), "");
    EXPECT_EQ(var(std::string("a\0b", 3)).__len__(), 3);
}

TEST(VarModel, CopiesShareTheObjectUntilReassigned) {
    var a(3, 0);
    var b = a;
    list_append(a, var(1));
    list_append(b, var(2));
    EXPECT_EQ(a.__len__(), 2);
    EXPECT_EQ(b.__len__(), 2);
    a.__del__(var(0));
    EXPECT_EQ(b.__len__(), 1);
    EXPECT_EQ(a._obj->refs, 2);
    b = var(3, 0);
    list_append(a, var(9));
    EXPECT_EQ(b.__len__(), 0);
    EXPECT_EQ(a.__len__(), 2);
    EXPECT_EQ(a._obj->refs, 1);
}

TEST(VarModel, AssignmentKeepsAnEqualObject) {
    var a(5);
    var_object* held = a._obj;
    a = var(5);
    EXPECT_EQ(a._obj, held);
    var& self = a;
    a = self;
    EXPECT_EQ(a._obj, held);
    a = var(6);
    EXPECT_NE(a._obj, held);
    var n;
    var none_obj(n.__copy__());
    n = none_obj;  // equal to none: stays a null handle
    EXPECT_EQ(n._obj, nullptr);
}

TEST(VarModel, AssigningAnElementOfTheValueItself) {
    // The list is freed while its own element is being assigned from.
    var l = list_of({var("keep")});
    l = l[0];
    EXPECT_EQ(l.__type__(), 2);
    EXPECT_EQ(l.__str__(), "keep");
}

TEST(VarModel, FreeingADeepTreeDoesNotRecurse) {
    var top(3, 0);
    var cur = top;
    for (int i = 0; i < 1000000; i++) {
        var next(3, 0);
        list_append(cur, next);
        cur = next;
    }
    cur.__destroy__();
    top.__destroy__();  // a recursive free would overflow the stack here
    EXPECT_EQ(top.__type__(), 0);
}

TEST(VarModel, InitReplacesTheObject) {
    var v(3, 0);
    var other = v;
    v.__init__(2.5);
    EXPECT_EQ(v.__num__(), 2.5);
    v.__init__(true);
    EXPECT_EQ(v.__type__(), 5);
    v.__init__(std::string("s"));
    EXPECT_EQ(v.__str__(), "s");
    v.__init__("lit");
    EXPECT_EQ(v.__type__(), 2);
    v.__init__(other._obj);
    EXPECT_EQ(v._obj, other._obj);
    EXPECT_EQ(other._obj->refs, 2);
    v.__init__((var_object*)nullptr);
    EXPECT_EQ(v.__type__(), 0);
    other.__destroy__();
    EXPECT_EQ(other._obj, nullptr);
}

TEST(VarModel, ListConstructorSharesElements) {
    var a(1), b("two");
    var l(3, 2, &a, &b);
    ASSERT_EQ(l.__len__(), 2);
    EXPECT_EQ(l[0]._obj, a._obj);
    EXPECT_EQ(l[1]._obj, b._obj);
}

TEST(VarModel, DictConstructor) {
    var k1("a"), v1(1), k2("b"), v2(2);
    var d(4, 4, &k1, &v1, &k2, &v2);
    EXPECT_EQ(d.__len__(), 2);
    EXPECT_EQ(d["a"].__num__(), 1);
    EXPECT_EQ(d["b"].__num__(), 2);

    var same("a");
    var twice(4, 4, &k1, &v1, &same, &v2);
    EXPECT_EQ(twice.__len__(), 1);
    EXPECT_EQ(twice["a"].__num__(), 2);

    // Keys go by their text form; a none key is the empty key.
    var num_key(1), none_key;
    var d2(4, 4, &num_key, &v1, &none_key, &v2);
    EXPECT_TRUE(d2.__has__(var("1")));
    EXPECT_TRUE(d2.__has__(var("")));
}

TEST(VarModel, TypeNames) {
    const char* names[] = {"invalid", "none", "number", "string", "list", "dict", "bool", "invalid"};
    for (int t = -1; t <= 6; t++) EXPECT_STREQ(var_typename(t), names[t + 1]) << t;
}

// ---- error reporting --------------------------------------------------------

TEST(VarErrors, UnsupportedOperationMessages) {
    int len = -1;
    EXPECT_EQ(error_of([&] { len = var(5).__len__(); }),
              "TypeError: 'number' object does not support '__len__'");
    EXPECT_EQ(len, 0);
    var none;
    EXPECT_EQ(error_of([&] { none.__get__(var(0)); }), "TypeError: 'none' object does not support '__get__'");
    EXPECT_EQ(error_of([&] { var("s").__get__(var(0)); }),
              "TypeError: 'string' object does not support '__get__'");
    EXPECT_EQ(error_of([&] { var(true).__add__(var(1)); }), "TypeError: 'bool' object does not support '__add__'");
    EXPECT_EQ(error_of([&] { var(4, 0).__slice__(0, 1); }), "TypeError: 'dict' object does not support '__slice__'");
    bool has = true;
    EXPECT_EQ(error_of([&] { has = var(1).__has__(var(1)); }), "TypeError: 'number' object does not support '__has__'");
    EXPECT_FALSE(has);
    // Iterators are bare objects: tag -1, "invalid".
    var it(var(3, 0).__iter__());
    EXPECT_EQ(error_of([&] { it.__len__(); }), "TypeError: 'invalid' object does not support '__len__'");
}

TEST(VarErrors, OneLogLineWithSourceAndLine) {
    std::string out = stdout_of([&] { var(1).__len__(); });
    EXPECT_NE(out.find("qel_var.cpp:"), std::string::npos) << out;
    EXPECT_NE(out.find(": TypeError: 'number' object does not support '__len__'\n"), std::string::npos) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
    testing::internal::CaptureStdout();
    var none;
    list_append(none, var(1));
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find(": UnsupportedError\n"), std::string::npos) << out;
}

TEST(VarErrors, ErrorTextIsKeptUntilTheNextError) {
    error_of([] { var(1).__len__(); });
    var l(3, 0);
    list_append(l, var(1));
    EXPECT_EQ(l.__len__(), 1);  // a successful call leaves the text alone
    EXPECT_EQ(var_get_errstr(), "TypeError: 'number' object does not support '__len__'");
}

TEST(VarErrors, WritingThroughAFailedGetTouchesOnlyTheTemporary) {
    var l = list_of({var(1), var(2)});
    EXPECT_EQ(error_of([&] { l[5] = var(99); }), "IndexError: list index out of range");
    EXPECT_EQ(l.__len__(), 2);
    EXPECT_EQ(l[0].__num__(), 1);
    EXPECT_EQ(l[1].__num__(), 2);
    var& again = l[7];
    EXPECT_EQ(again.__type__(), 0);
    EXPECT_EQ(&again, &_var_none_tmp());
}

// ---- element operations -----------------------------------------------------

TEST(VarElements, ListIndexing) {
    var l = list_of({var(10), var(20), var(30)});
    EXPECT_EQ(l[-1].__num__(), 30);
    EXPECT_EQ(l[-3].__num__(), 10);
    EXPECT_EQ(error_of([&] { EXPECT_EQ(l[-4].__type__(), 0); }), "IndexError: list index out of range");
    EXPECT_EQ(error_of([&] { EXPECT_EQ(l[3].__type__(), 0); }), "IndexError: list index out of range");
    EXPECT_EQ(l["1"].__num__(), 20);
    EXPECT_EQ(l.__get__(var(true)).__num__(), 20);
    EXPECT_EQ(l.__get__(var(1.9)).__num__(), 20);
    EXPECT_EQ(l.__get__(var()).__num__(), 10);
    EXPECT_EQ(error_of([&] { l.__get__(var(NAN)); }), "IndexError: list index out of range");
    EXPECT_EQ(error_of([&] { l.__get__(var(1e20)); }), "IndexError: list index out of range");
}

TEST(VarElements, ListSetAndDelete) {
    var l = list_of({var("a"), var("b"), var("c")});
    l.__set__(var(-1), var("z"));
    EXPECT_EQ(texts(l), "a,b,z");
    EXPECT_EQ(error_of([&] { l.__set__(var(3), var("q")); }), "IndexError: list assignment index out of range");
    EXPECT_EQ(texts(l), "a,b,z");
    l.__del__(var(0));
    EXPECT_EQ(texts(l), "b,z");
    l.__del__(var());
    EXPECT_EQ(texts(l), "z");
    l.__del__(var(-1));
    EXPECT_EQ(l.__len__(), 0);
    EXPECT_EQ(error_of([&] { l.__del__(var(0)); }), "IndexError: list assignment index out of range");
}

TEST(VarElements, DictAccess) {
    var d(4, 0);
    EXPECT_FALSE(d.__has__(var("k")));
    EXPECT_EQ(d.__len__(), 0);
    EXPECT_EQ(error_of([&] { EXPECT_EQ(d["k"].__type__(), 0); }), "");  // not an error
    EXPECT_EQ(d.__len__(), 1);
    d["k"] = var(5);
    EXPECT_EQ(d["k"].__num__(), 5);
    d.__set__(var(1), var("one"));
    EXPECT_EQ(d["1"].__str__(), "one");
    d.__set__(var(1.5), var("x"));
    EXPECT_TRUE(d.__has__(var("1.5")));
    d.__set__(var(true), var("t"));
    EXPECT_TRUE(d.__has__(var("True")));
    d.__del__(var("k"));
    EXPECT_FALSE(d.__has__(var("k")));
    EXPECT_EQ(error_of([&] { d.__del__(var("k")); }), "dict::__del__:KeyError");
}

TEST(VarElements, DictKeysAreOrderedBytewise) {
    var d(4, 0);
    for (const char* k : {"b", "\xff", "a", "ab", "B", ""}) d[k] = var(1);
    var it(d.__iter__());
    var k;
    std::string order;
    while (it.__next__(k)) order += "[" + k.__str__() + "]";
    EXPECT_EQ(order, "[][B][a][ab][b][\xff]");
}

TEST(VarElements, Membership) {
    var s("a1b");
    EXPECT_TRUE(s.__has__(var("1b")));
    EXPECT_TRUE(s.__has__(var("")));
    EXPECT_TRUE(s.__has__(var(1)));
    EXPECT_FALSE(s.__has__(var("c")));
    var inner(3, 0);
    var none;
    var l = list_of({var(1), var("x"), inner, none});
    EXPECT_TRUE(l.__has__(var(1.0)));
    EXPECT_FALSE(l.__has__(var(true)));
    EXPECT_FALSE(l.__has__(var("1")));
    EXPECT_TRUE(l.__has__(inner));
    EXPECT_FALSE(l.__has__(var(3, 0)));
    EXPECT_TRUE(l.__has__(var()));
}

TEST(VarElements, Slices) {
    var s("hello");
    EXPECT_EQ(s.__slice__(-3, 5).__str__(), "llo");
    EXPECT_EQ(s.__slice__(1, 100).__str__(), "ello");
    EXPECT_EQ(s.__slice__(-100, 2).__str__(), "he");
    EXPECT_EQ(s.__slice__(0, -1).__str__(), "hell");
    EXPECT_EQ(s.__slice__(4, 2).__str__(), "");
    EXPECT_EQ(s.__slice__(9, 12).__str__(), "");
    var l = list_of({var(1), var(2), var(3)});
    var z = l.__slice__(0, 0);
    EXPECT_EQ(z.__type__(), 3);
    EXPECT_EQ(z.__len__(), 0);
    var tail = l.__slice__(1, 3);
    EXPECT_EQ(texts(tail), "2,3");
    EXPECT_EQ(tail[0]._obj, l[1]._obj);
    EXPECT_EQ(l.__slice__(5, 9).__len__(), 0);
}

TEST(VarElements, CopiesAreOneLevelDeep) {
    var inner(3, 0);
    var l = list_of({var(1), inner});
    var c(l.__copy__());
    EXPECT_NE(c._obj, l._obj);
    EXPECT_EQ(c[1]._obj, inner._obj);
    list_append(c, var(2));
    EXPECT_EQ(l.__len__(), 2);
    var d(4, 0);
    d["a"] = inner;
    var dc(d.__copy__());
    EXPECT_NE(dc._obj, d._obj);
    EXPECT_EQ(dc["a"]._obj, inner._obj);
    var n(2.5);
    var nc(n.__copy__());
    EXPECT_NE(nc._obj, n._obj);
    EXPECT_TRUE(nc.__eq__(n));
}

TEST(VarElements, Iteration) {
    var s(std::string("\x41\xff"));
    var it(s.__iter__());
    var x;
    ASSERT_TRUE(it.__next__(x));
    EXPECT_EQ(x.__num__(), 65);
    ASSERT_TRUE(it.__next__(x));
    EXPECT_EQ(x.__num__(), -1);
    EXPECT_FALSE(it.__next__(x));
    EXPECT_EQ(x.__num__(), -1);  // left untouched at the end

    var k1("b"), v1(1), k2("a"), v2(2);
    var d(4, 4, &k1, &v1, &k2, &v2);
    var di(d.__iter__());
    ASSERT_TRUE(di.__next__(x));
    EXPECT_EQ(x.__str__(), "a");
    ASSERT_TRUE(di.__next__(x));
    EXPECT_EQ(x.__str__(), "b");
    EXPECT_FALSE(di.__next__(x));
    var dp(d.__iter__());
    var key, val;
    ASSERT_TRUE(dp.__pair__(key, val));
    EXPECT_EQ(key.__str__(), "a");
    EXPECT_EQ(val._obj, v2._obj);

    var l = list_of({var("p"), var("q")});
    var lp(l.__iter__());
    ASSERT_TRUE(lp.__pair__(key, val));
    ASSERT_TRUE(lp.__pair__(key, val));
    EXPECT_EQ(key.__num__(), 1);
    EXPECT_EQ(val.__str__(), "q");
    EXPECT_FALSE(lp.__pair__(key, val));
}

TEST(VarElements, ListIteratorStaysInBoundsWhenTheListShrinks) {
    var l = list_of({var(1), var(2), var(3)});
    var it(l.__iter__());
    var x;
    ASSERT_TRUE(it.__next__(x));
    l.__del__(var(0));
    l.__del__(var(0));
    EXPECT_FALSE(it.__next__(x));
}

// ---- conversions and text form ----------------------------------------------

TEST(VarConversions, Numbers) {
    EXPECT_EQ((int)var(2.9), 2);
    EXPECT_EQ((int)var(-2.9), -2);
    EXPECT_EQ((int)var("12abc"), 12);
    EXPECT_EQ((int)var("abc"), 0);
    EXPECT_EQ((int)var(NAN), INT32_MIN);
    EXPECT_EQ((int)var(1e12), INT32_MIN);
    EXPECT_EQ((double)var(" 2.5e1x"), 25.0);
    EXPECT_EQ((double)var(true), 1.0);
    EXPECT_EQ((double)var(3, 0), 0.0);
    EXPECT_EQ((double)var(4, 0), 0.0);
    EXPECT_EQ((float)var(0.5), 0.5f);
    EXPECT_TRUE(std::isinf((float)var(1e300)));
}

TEST(VarConversions, Truth) {
    for (const var& v : {var(NAN), var(-1), var("0"), list_of({var()}), var(true)}) EXPECT_TRUE((bool)v) << v.__str__();
    for (const var& v : {var(), var(0), var(""), var(3, 0), var(4, 0), var(false)}) EXPECT_FALSE((bool)v) << v.__str__();
}

TEST(VarConversions, TextForm) {
    const std::pair<var, const char*> forms[] = {
        {var(42.0), "42"},          {var(42.5), "42.5"},     {var(0.125), "0.125"},  {var(2.5), "2.5"},
        {var(0.1), "0.1"},          {var(1.0 / 3), "0.333333"}, {var(1e-7), "0.0"},  {var(-1e-7), "-0.0"},
        {var(-0.0), "0"},           {var(-7), "-7"},         {var(3000000000.0), "3000000000.0"},
        {var(-2147483648.0), "-2147483648"}, {var(2147483647.0), "2147483647"},  {var(INFINITY), "inf"},
        {var(-INFINITY), "-inf"},   {var(true), "True"},     {var(false), "False"}, {var(), ""}};
    for (const auto& [v, text] : forms) EXPECT_EQ(v.__str__(), text);
    EXPECT_EQ(var(NAN).__str__().find("nan") != std::string::npos, true);
    var l(3, 0);
    EXPECT_EQ(l.__str__().rfind("<list instance at ", 0), 0u);
    EXPECT_EQ(var(4, 0).__str__().rfind("<dict instance at ", 0), 0u);
    std::string s = var(12);
    EXPECT_EQ(s, "12");
}

TEST(VarConversions, HugeNumbersFormatWithoutOverflow) {
    std::string t = var(1e300).__str__();
    EXPECT_EQ(t.size(), 303u);  // 301 digits, the point, one zero
    EXPECT_EQ(t.substr(0, 4), "1000");
    EXPECT_EQ(t.substr(t.size() - 2), ".0");
    std::string m = var(-std::numeric_limits<double>::max()).__str__();
    EXPECT_EQ(m[0], '-');
    EXPECT_EQ(m.size(), 1 + 309 + 2u);
    EXPECT_EQ(var(1e55 + 0.5).__str__().substr(0, 2), "10");
    EXPECT_EQ(var(123456789012.5).__str__(), "123456789012.5");
}

// ---- comparison and arithmetic ----------------------------------------------

TEST(VarCompare, Equality) {
    EXPECT_TRUE(var(1).__eq__(var(1.0)));
    EXPECT_FALSE(var(1).__eq__(var(true)));
    EXPECT_FALSE(var(1).__eq__(var("1")));
    EXPECT_FALSE(var(NAN).__eq__(var(NAN)));
    EXPECT_TRUE(var("ab").__eq__(var(std::string("ab"))));
    EXPECT_FALSE(var(std::string("a\0b", 3)).__eq__(var("a")));
    EXPECT_FALSE(var(3, 0).__eq__(var(3, 0)));
    var l(3, 0);
    var l2 = l;
    EXPECT_TRUE(l.__eq__(l2));
    EXPECT_FALSE(var(4, 0).__eq__(var(4, 0)));
    EXPECT_TRUE(var(true).__eq__(var(true)));
    EXPECT_FALSE(var(true).__eq__(var(1)));
    EXPECT_FALSE(var(true).__eq__(var(false)));
    EXPECT_TRUE(var("abc") == "abc");
    EXPECT_FALSE(var("abc") == "abd");
    EXPECT_FALSE(var() == "");
}

TEST(VarCompare, Ordering) {
    EXPECT_TRUE(var(5).__lt__(var("abc")));
    EXPECT_FALSE(var("abc").__lt__(var(5)));
    EXPECT_TRUE(var("5").__lt__(var("abc")));
    EXPECT_TRUE(var("abc").__lt__(var("abd")));
    EXPECT_TRUE(var("ab").__lt__(var("abc")));
    EXPECT_TRUE(var("a").__lt__(var("\xff")));  // unsigned bytes
    EXPECT_TRUE(var(-1).__lt__(var()));
    EXPECT_FALSE(var(1).__lt__(var()));
    EXPECT_FALSE(var().__lt__(var(5)));
    EXPECT_FALSE(var().__lt__(var("a")));
    EXPECT_TRUE(var(1).__lt__(var(2)));
    EXPECT_FALSE(var(NAN).__lt__(var(2)));
    EXPECT_TRUE(var("x").__lt__(var(3, 0)));
    EXPECT_TRUE(var(3, 0).__lt__(var(4, 0)));
    EXPECT_FALSE(var(4, 0).__lt__(var(3, 0)));
    EXPECT_TRUE(var(4, 0).__lt__(var(true)));
    EXPECT_FALSE(var(true).__lt__(var(false)));
    EXPECT_FALSE(var(false).__lt__(var(true)));
    var a(3, 0), b(3, 0);
    EXPECT_NE(a.__lt__(b), b.__lt__(a));  // by address, one way only
}

TEST(VarCompare, Arithmetic) {
    EXPECT_EQ(var("a").__add__(var(1)).__str__(), "a1");
    var three = var(1).__add__(var("2"));
    EXPECT_EQ(three.__type__(), 1);
    EXPECT_EQ(three.__num__(), 3);
    EXPECT_EQ(var(1).__add__(var("x")).__num__(), 1);
    EXPECT_EQ(var(6).__sub__(var(2)).__num__(), 4);
    EXPECT_EQ(var(6).__mul__(var(true)).__num__(), 6);
    EXPECT_EQ(var(6).__div__(var(4)).__num__(), 1.5);
    EXPECT_TRUE(std::isinf(var(1).__div__(var(0)).__num__()));
    EXPECT_EQ(error_of([] { EXPECT_EQ(var("a").__sub__(var(1)).__type__(), 0); }),
              "TypeError: 'string' object does not support '__sub__'");
    EXPECT_EQ(error_of([] { var(4, 0).__add__(var(4, 0)); }), "TypeError: 'dict' object does not support '__add__'");

    var one = list_of({var(1)});
    var two = list_of({var(2), var(3)});
    var sum = one.__add__(two);
    EXPECT_EQ(texts(sum), "1,2,3");
    EXPECT_NE(sum._obj, one._obj);
    EXPECT_EQ(one.__len__(), 1);
    EXPECT_EQ(sum[1]._obj, two[0]._obj);
    EXPECT_EQ(error_of([&] { EXPECT_EQ(one.__add__(var(2)).__type__(), 0); }),
              "TypeError: can only concatenate list to list");
}

// ---- text helpers -----------------------------------------------------------

// The pieces of str_split, joined with '|'.
std::string pieces(const std::string& s, const std::string& sep) {
    var p = str_split(s, sep);
    return str_join("|", p).__str__() + " #" + std::to_string(p.__len__());
}

TEST(VarStrings, Split) {
    const char* cases[][3] = {{"a,b", ",", "a|b #2"}, {"a,", ",", "a| #2"},   {",a", ",", "|a #2"},
                              {"a,,b", ",", "a||b #3"}, {"abc", ",", "abc #1"}, {"", ",", " #1"},
                              {"a::b:c", "::", "a|b:c #2"}};
    for (auto& c : cases) EXPECT_EQ(pieces(c[0], c[1]), c[2]) << c[0];
}

TEST(VarStrings, EmptySeparatorAndSearchReturnAtOnce) {
    EXPECT_EQ(pieces("abc", ""), "abc #1");
    EXPECT_EQ(str_replace("abc", "", "x"), "abc");
}

TEST(VarStrings, Join) {
    var l(3, 0);
    EXPECT_EQ(str_join(",", l).__str__(), "");
    list_append(l, var(1));
    EXPECT_EQ(str_join(",", l).__str__(), "1");
    list_append(l, var(2.5));
    list_append(l, var());
    list_append(l, var("x"));
    EXPECT_EQ(str_join(",", l).__str__(), "1,2.5,,x");
    var notlist(5);
    EXPECT_EQ(error_of([&] { EXPECT_EQ(str_join(",", notlist).__type__(), 0); }), "TypeError");
}

TEST(VarStrings, ReplaceStripCaseFind) {
    EXPECT_EQ(str_replace("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(str_replace("abab", "ab", ""), "");
    EXPECT_EQ(str_replace("x-y-z", "-", "+="), "x+=y+=z");
    EXPECT_EQ(str_strip(" \t\r\nab c\n "), "ab c");
    EXPECT_EQ(str_strip(" \n\t\r"), "");
    EXPECT_EQ(str_strip(""), "");
    EXPECT_EQ(str_strip("\xa0 x \xa0"), "\xa0 x \xa0");
    EXPECT_EQ(str_strip("\vx"), "\vx");
    EXPECT_EQ(str_lower("AbC-\xc9"), "abc-\xc9");
    EXPECT_EQ(str_upper("aBc-\xe9"), "ABC-\xe9");
    EXPECT_EQ(str_find("hello", "ll"), 2u);
    EXPECT_EQ(str_find("hello", "z"), std::string::npos);
    EXPECT_EQ(str_find("hello", "z"), (size_t)-1);
}

// ---- list helpers -----------------------------------------------------------

TEST(VarLists, Insert) {
    auto insert_at = [](int i) {
        var l = list_of({var("x"), var("y")});
        list_insert(l, i, var("v"));
        return texts(l);
    };
    for (int i : {0, -2, -100}) EXPECT_EQ(insert_at(i), "v,x,y") << i;
    for (int i : {1, 2, 10, -1}) EXPECT_EQ(insert_at(i), "x,v,y") << i;
    var e(3, 0);
    list_insert(e, 5, var("v"));
    EXPECT_EQ(texts(e), "v");
}

TEST(VarLists, NotAListIsUnsupported) {
    var none;
    EXPECT_EQ(error_of([&] { list_append(none, var(1)); }), "UnsupportedError");
    EXPECT_EQ(none.__type__(), 0);
    var d(4, 0);
    EXPECT_EQ(error_of([&] { list_insert(d, 0, var(1)); }), "UnsupportedError");
    EXPECT_EQ(error_of([&] { list_extend(none, var(3, 0)); }), "UnsupportedError");
    EXPECT_EQ(error_of([&] { EXPECT_EQ(list_find(none, var(1)), -1); }), "UnsupportedError");
    EXPECT_EQ(error_of([&] { list_reverse(d); }), "UnsupportedError");
    EXPECT_EQ(error_of([&] { list_sort(none); }), "UnsupportedError");
    var l(3, 0);
    EXPECT_EQ(error_of([&] { list_extend(l, var("ab")); }), "TypeError: lists may only be extended by lists");
    EXPECT_EQ(l.__len__(), 0);
}

TEST(VarLists, ExtendFindReverse) {
    var a = list_of({var(1), var(2)});
    var b = list_of({var(3)});
    list_extend(a, b);
    EXPECT_EQ(texts(a), "1,2,3");
    EXPECT_EQ(a[2]._obj, b[0]._obj);

    var inner(3, 0);
    var l = list_of({var(1), var(), inner});
    EXPECT_EQ(list_find(l, inner), 2);
    EXPECT_EQ(list_find(l, var(3, 0)), -1);
    EXPECT_EQ(list_find(l, var()), 1);
    EXPECT_EQ(list_find(l, var(1.0)), 0);
    EXPECT_EQ(list_find(l, var("1")), -1);

    var r = list_of({var(1), var(2), var(3), var(4), var(5)});
    list_reverse(r);
    EXPECT_EQ(texts(r), "5,4,3,2,1");
    var r2 = list_of({var(1), var(2)});
    list_reverse(r2);
    EXPECT_EQ(texts(r2), "2,1");
}

TEST(VarLists, ExtendByItselfDoublesOnce) {
    var l = list_of({var("a"), var("b")});
    list_extend(l, l);
    EXPECT_EQ(texts(l), "a,b,a,b");
    var shared = l;
    list_extend(l, shared);
    EXPECT_EQ(l.__len__(), 8);
}

TEST(VarLists, SortOrdersNumbersThenStrings) {
    var l = list_of({var("b"), var(3), var("a"), var(-1), var(2.5), var("B")});
    list_sort(l);
    EXPECT_EQ(texts(l), "-1,2.5,3,B,a,b");
    var e(3, 0);
    list_sort(e);
    EXPECT_EQ(e.__len__(), 0);
}

TEST(VarLists, SortStaysInBoundsForAnyComparison) {
    // NaN, none, bools, lists and dicts make the order inconsistent; the sort
    // must still keep every element exactly once.
    var l(3, 0);
    for (int i = 0; i < 500; i++) {
        switch (i % 7) {
        case 0: list_append(l, var(NAN)); break;
        case 1: list_append(l, var(i)); break;
        case 2: list_append(l, var()); break;
        case 3: list_append(l, var(std::to_string(i * 7919 % 1000))); break;
        case 4: list_append(l, var(i % 2 == 0)); break;
        case 5: list_append(l, var(3, 0)); break;
        default: list_append(l, var(-i * 0.5)); break;
        }
    }
    var before(l.__copy__());
    list_sort(l);
    ASSERT_EQ(l.__len__(), 500);
    // Same objects, each exactly once.
    std::multiset<const var_object*> a, b;
    for (int i = 0; i < 500; i++) {
        a.insert(before[i]._obj);
        b.insert(l[i]._obj);
    }
    EXPECT_EQ(a, b);
}

TEST(VarLists, SortNumbers) {
    var l(3, 0);
    unsigned seed = 12345;
    for (int i = 0; i < 1000; i++) {
        seed = seed * 1103515245u + 12345u;
        list_append(l, var((int)(seed >> 16) % 1000 - 500));
    }
    list_sort(l);
    for (int i = 1; i < 1000; i++) EXPECT_LE(l[i - 1].__num__(), l[i].__num__());
}

}  // namespace
