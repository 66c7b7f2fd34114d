// The four tokenizers and the quote extraction.
#include "support/nlib.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

typedef std::vector<std::string> tokens;

// All tokens of text, "(none)" marking the null that ends them.
template <class Next>
tokens split(std::string text, Next next)
{
    tokens out;
    char *cursor = nullptr;
    char *token = next(&text[0], &cursor);
    for (int guard = 0; guard < 50; guard++) {
        out.push_back(token ? token : "(none)");
        if (!token)
            break;
        token = next(nullptr, &cursor);
    }
    return out;
}

TEST(Tokens, StaticTokenizerKeepsEmptyTokens)
{
    auto next = [](char *text, char **) { return s_strtoken(text, ",;"); };
    EXPECT_EQ(split("a,,b", next), (tokens{"a", "", "b", "(none)"}));
    EXPECT_EQ(split("a;b,", next), (tokens{"a", "b", "", "(none)"}));
    EXPECT_EQ(s_strtoken(nullptr, ","), nullptr);  // and null until a new text

    // It splits its own copy, at most 1,023 characters of it.
    std::string caller = "x y";
    EXPECT_STREQ(s_strtoken(caller.c_str(), " "), "x");
    EXPECT_EQ(caller, "x y");
    EXPECT_EQ(s_strtoken("a b", nullptr), nullptr);
    EXPECT_STREQ(s_strtoken(nullptr, " "), "a");  // the text given with no delimiters is kept
    EXPECT_EQ(s_strlen(s_strtoken(std::string(3000, 'h').c_str(), ",")), 1023u);
}

TEST(Tokens, CursorTokenizers)
{
    auto plain = [](char *text, char **cursor) { return mystrtok(text, ",", cursor); };
    EXPECT_EQ(split(",,a,,b,", plain), (tokens{"a", "b", "(none)"}));
    EXPECT_EQ(split(",,,", plain), (tokens{"(none)"}));
    auto quoted = [](char *text, char **cursor) { return myquotetok(text, " ", cursor); };
    EXPECT_EQ(split("x \"a b\" y", quoted), (tokens{"x", "a b", "y", "(none)"}));
    EXPECT_EQ(split("  \"\"  q\"r s\"t ", quoted), (tokens{"", "q\"r s\"t", "(none)"}));
    EXPECT_EQ(split("\"open ended", quoted), (tokens{"open ended", "(none)"}));
    EXPECT_EQ(split("\"", quoted), (tokens{"", "(none)"}));
    EXPECT_EQ(split("", quoted), (tokens{"(none)"}));
    auto quote_delim = [](char *text, char **cursor) { return myquotetok(text, "\",", cursor); };
    EXPECT_EQ(split("\"a,b\",c", quote_delim), (tokens{"a,b", "c", "(none)"}));
    auto one = [](char *text, char **cursor) { return myquotetok_one(text, ';', cursor); };
    EXPECT_EQ(split("a;;b", one), (tokens{"a", "", "b", "(none)"}));
    EXPECT_EQ(split(";a;", one), (tokens{"", "a", "(none)"}));
    EXPECT_EQ(split("\"x;y\";z", one), (tokens{"x;y", "z", "(none)"}));

    char text[] = "a b";
    char *cursor = nullptr;
    EXPECT_STREQ(mystrtok(text, " ", nullptr), "a");  // a cursor is optional
    EXPECT_EQ(mystrtok(nullptr, " ", &cursor), nullptr);
    EXPECT_EQ(mystrtok(text, nullptr, &cursor), nullptr);
    EXPECT_EQ(myquotetok(nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(myquotetok_one(text, 0, &cursor), nullptr);
}

TEST(Tokens, RemoveQuote)
{
    EXPECT_STREQ(remove_quote("say \"hi\" now"), "hi");
    EXPECT_STREQ(remove_quote("no quotes"), "");
    EXPECT_STREQ(remove_quote("open \"ended"), "ended");
    EXPECT_STREQ(remove_quote(nullptr), "");
    std::string quoted = "\"" + std::string(900, 'q') + "\"";
    EXPECT_EQ(std::string(remove_quote(quoted.c_str())), std::string(511, 'q'));
}

}  // namespace
