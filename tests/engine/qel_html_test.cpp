// Markup tokenizer: records, entities and whitespace, and untrusted input.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "ruvezor/util/qel_html.h"

namespace {

using V = std::vector<std::string>;

// Each record as "key=value;" in key order, numbers marked with "#"; also checks
// the shape every caller relies on and counts the stored text bytes.
V parse(const std::string& text, size_t* stored = nullptr)
{
    var list = html_parse(text);
    V out;
    EXPECT_EQ(list.__type__(), VAR_LIST);
    for (int i = 0; i < list.__len__(); i++) {
        var& rec = list[i];
        EXPECT_EQ(rec.__type__(), VAR_DICT);
        std::string s;
        var it(rec.__iter__());
        var k, v;
        while (it.__pair__(k, v)) {
            if (v.__type__() == VAR_NUMBER) {
                EXPECT_EQ(k.__str__(), "closed");  // the only number
                EXPECT_EQ(v.__num__(), 1.0);
            } else {
                EXPECT_EQ(v.__type__(), VAR_STRING);
                if (stored) *stored += v.__str__().size();
            }
            s += k.__str__() + (v.__type__() == VAR_NUMBER ? "=#" : "=") + v.__str__() + ";";
        }
        out.push_back(s);
    }
    return out;
}

}  // namespace

TEST(Html, RecordsAndAttributes)
{
    EXPECT_EQ(parse("<p a=\"1\">Hi &amp; bye</p>"), (V{"a=1;content=Hi & bye;tag=p;", "closed=#1;tag=p;"}));
    EXPECT_EQ(parse(""), V{});
    EXPECT_EQ(parse("<br/>"), V{"closed=#1;tag=br;"});
    EXPECT_EQ(parse("<img width=50%>"), V{"tag=img;width=50;"});
    // a slash anywhere outside quotes closes; inside quotes it does not
    EXPECT_EQ(parse("<a href='x/y'>"), V{"href=x/y;tag=a;"});
    EXPECT_EQ(parse("<a href=x/y>"), V{"closed=#1;href=x;tag=a;"});
    // values stay strings, attributes without a value are dropped, later values win
    EXPECT_EQ(parse("<i n=5 flag m='2' n=\"6\">"), V{"m=2;n=6;tag=i;"});
    EXPECT_EQ(parse("<i tag=x>"), V{"tag=x;"});
    // a quoted text before the name is dropped and the next name is the tag
    EXPECT_EQ(parse("<'q' div>"), V{"tag=div;"});
    EXPECT_EQ(parse("<Box-1_a CamelCase=Yes>"), V{"CamelCase=Yes;tag=Box-1_a;"});
    EXPECT_EQ(parse("<!-- some words -->"), V{"tag=--;"});  // comments are no special case
}

TEST(Html, ContentWhitespaceAndEntities)
{
    EXPECT_EQ(parse("<p>  one \t\n\r two   three <b>"), (V{"content=one two three ;tag=p;", "tag=b;"}));
    // a space from an entity counts as a word, so a blank after it stays too
    EXPECT_EQ(parse("<p>a&nbsp; b<b>"), (V{"content=a  b;tag=p;", "tag=b;"}));
    EXPECT_EQ(parse("<a><b>"), (V{"content=;tag=a;", "tag=b;"}));
    EXPECT_EQ(parse("<p>&copy;&lt x&gt;&quot;&apos;&#10;&;&#33;<b>"), (V{"content=?< x>\"'\n??;tag=p;", "tag=b;"}));
    // entities inside quoted values; the quote ends an unterminated entity
    EXPECT_EQ(parse("<a v=\"x &amp; y&lt\">"), V{"tag=a;v=x & y<;"});
    // text outside tags is lost; only the text right after an unclosed tag is kept
    EXPECT_EQ(parse("lost <a>one<b/>two<c>lost"), (V{"content=one;tag=a;", "closed=#1;tag=b;", "tag=c;"}));
    // an attribute named content is not overwritten
    EXPECT_EQ(parse("<a content=mine>text<b>"), (V{"content=mine;tag=a;", "tag=b;"}));
}

TEST(Html, UnterminatedNulAndHighBytes)
{
    EXPECT_EQ(parse("<p a=\"never closed>text<b>"), V{"a=never closed>text<b>;tag=p;"});
    EXPECT_EQ(parse("<p a=1"), V{"a=1;tag=p;"});
    EXPECT_EQ(parse("<"), V{""});
    EXPECT_EQ(parse("<p>x&am"), V{"tag=p;"});
    EXPECT_EQ(parse("<a b="), V{"tag=a;"});
    // NUL bytes are kept; bytes 0x80 and up are text but split names
    std::string t("<a v='x\0y'>p\0q\xff\xc3<b\xe9 c=1>", 25);
    EXPECT_EQ(parse(t), (V{std::string("content=p\0q\xff\xc3;tag=a;v=x\0y;", 26), "c=1;tag=b;"}));
}

TEST(Html, LimitsAreLogged)
{
    std::string many;
    for (int i = 0; i < HTML_MAX_TAGS + 10; i++) many += "<a>";
    testing::internal::CaptureStdout();
    EXPECT_EQ(html_parse(many).__len__(), HTML_MAX_TAGS);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("html_parse"), std::string::npos);

    testing::internal::CaptureStdout();
    var none = html_parse(std::string(HTML_MAX_TEXT + 1, '<'));
    EXPECT_EQ(none.__type__(), VAR_LIST);
    EXPECT_EQ(none.__len__(), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("refused"), std::string::npos);
}

// Random and mutated markup (truncations included): always the record shape above,
// never more records than "<", never more stored text than went in.
TEST(Html, RandomAndMutatedInputs)
{
    std::mt19937 rng(2140);
    const std::string page = "<div class='menu'><h1>Title &amp; more</h1><img src=\"a.png\" width=20/>"
                             "<input type=text name='n' value=\"&quot;q&quot;\"><!-- x --><p>&#10;&nbsp;</p></div>";
    const std::string alphabet("<>/='\"&;# \t\nab-_1\0\xff\xc3", 21);
    for (int iter = 0; iter < 4000; iter++) {
        std::string t;
        if (iter % 2) {
            for (size_t n = rng() % 120; n > 0; n--) t += (rng() % 4) ? alphabet[rng() % alphabet.size()] : (char)rng();
        } else {
            t = page;
            for (int m = rng() % 6; m >= 0; m--) {
                size_t at = rng() % (t.size() + 1);
                switch (rng() % 4) {
                case 0: t.erase(at, 1 + rng() % 4); break;
                case 1: t.insert(at, 1, alphabet[rng() % alphabet.size()]); break;
                case 2: t.insert(at, 1, (char)rng()); break;
                default: t.resize(at); break;
                }
            }
        }
        size_t stored = 0, opens = 0;
        V recs = parse(t, &stored);
        for (char c : t) opens += c == '<';
        ASSERT_LE(recs.size(), opens) << t;
        ASSERT_LE(stored, t.size()) << t;
    }
}
