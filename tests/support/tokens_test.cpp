#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/nlib.h"

namespace {

// All tokens of text, "(none)" marking the null that ends them.
template <class Next>
std::vector<std::string> split(std::string text, Next next)
{
    std::vector<std::string> tokens;
    char *cursor = nullptr;
    char *token = next(&text[0], &cursor);
    for (int guard = 0; guard < 50; guard++) {
        tokens.push_back(token ? token : "(none)");
        if (!token)
            break;
        token = next(nullptr, &cursor);
    }
    return tokens;
}

typedef std::vector<std::string> tokens;

}  // namespace

TEST(Tokens, StaticTokenizerKeepsEmptyTokens)
{
    EXPECT_STREQ(s_strtoken("a,,b", ","), "a");
    EXPECT_STREQ(s_strtoken(nullptr, ","), "");
    EXPECT_STREQ(s_strtoken(nullptr, ","), "b");
    EXPECT_EQ(s_strtoken(nullptr, ","), nullptr);
    EXPECT_EQ(s_strtoken(nullptr, ","), nullptr);

    EXPECT_STREQ(s_strtoken("a;b,", ",;"), "a");
    EXPECT_STREQ(s_strtoken(nullptr, ",;"), "b");
    EXPECT_STREQ(s_strtoken(nullptr, ",;"), "");
    EXPECT_EQ(s_strtoken(nullptr, ",;"), nullptr);

    // Works on its own copy, at most 1,023 characters of it.
    std::string caller = "x y";
    EXPECT_STREQ(s_strtoken(caller.c_str(), " "), "x");
    EXPECT_EQ(caller, "x y");
    EXPECT_EQ(s_strtoken("a b", nullptr), nullptr);
    EXPECT_STREQ(s_strtoken(nullptr, " "), "a");  // the text given with no delimiters is kept
    std::string huge(3000, 'h');
    EXPECT_EQ(s_strlen(s_strtoken(huge.c_str(), ",")), 1023u);
}

TEST(Tokens, ReentrantTokenizerSkipsDelimiterRuns)
{
    auto next = [](char *text, char **cursor) { return mystrtok(text, ",", cursor); };
    EXPECT_EQ(split(",,a,,b,", next), (tokens{"a", "b", "(none)"}));
    EXPECT_EQ(split("", next), (tokens{"(none)"}));
    EXPECT_EQ(split(",,,", next), (tokens{"(none)"}));
    EXPECT_EQ(split("one", next), (tokens{"one", "(none)"}));
    auto quotes = [](char *text, char **cursor) { return mystrtok(text, " \"", cursor); };
    EXPECT_EQ(split("a \"b c\"", quotes), (tokens{"a", "b", "c", "(none)"}));

    char text[] = "a b";
    EXPECT_STREQ(mystrtok(text, " ", nullptr), "a");  // a cursor is optional
    EXPECT_EQ(mystrtok(nullptr, " ", nullptr), nullptr);
    EXPECT_EQ(mystrtok(text, nullptr, nullptr), nullptr);
    char *cursor = nullptr;
    EXPECT_EQ(mystrtok(nullptr, " ", &cursor), nullptr);
}

TEST(Tokens, QuotingTokenizers)
{
    auto blank = [](char *text, char **cursor) { return myquotetok(text, " ", cursor); };
    EXPECT_EQ(split("x \"a b\" y", blank), (tokens{"x", "a b", "y", "(none)"}));
    EXPECT_EQ(split("  \"\"  q\"r s\"t ", blank), (tokens{"", "q\"r s\"t", "(none)"}));
    EXPECT_EQ(split("\"open ended", blank), (tokens{"open ended", "(none)"}));
    EXPECT_EQ(split("\" x", blank), (tokens{" x", "(none)"}));
    EXPECT_EQ(split("\"", blank), (tokens{"", "(none)"}));
    EXPECT_EQ(split("", blank), (tokens{"(none)"}));
    auto quote_delim = [](char *text, char **cursor) { return myquotetok(text, "\",", cursor); };
    EXPECT_EQ(split("\"a,b\",c", quote_delim), (tokens{"a,b", "c", "(none)"}));
    EXPECT_EQ(myquotetok(nullptr, nullptr, nullptr), nullptr);

    auto semi = [](char *text, char **cursor) { return myquotetok_one(text, ';', cursor); };
    EXPECT_EQ(split("a;;b", semi), (tokens{"a", "", "b", "(none)"}));
    EXPECT_EQ(split(";a", semi), (tokens{"", "a", "(none)"}));
    EXPECT_EQ(split("a;", semi), (tokens{"a", "(none)"}));
    EXPECT_EQ(split("\"x;y\";z", semi), (tokens{"x;y", "z", "(none)"}));
    char text[] = "a;b";
    char *cursor = nullptr;
    EXPECT_EQ(myquotetok_one(text, 0, &cursor), nullptr);
}

TEST(Tokens, RemoveQuote)
{
    EXPECT_STREQ(remove_quote("say \"hi\" now"), "hi");
    EXPECT_STREQ(remove_quote("no quotes"), "");
    EXPECT_STREQ(remove_quote("open \"ended"), "ended");
    EXPECT_STREQ(remove_quote("\"\""), "");
    EXPECT_STREQ(remove_quote(nullptr), "");
    std::string quoted = "\"" + std::string(900, 'q') + "\"";
    EXPECT_EQ(std::string(remove_quote(quoted.c_str())), std::string(511, 'q'));
}
