#include "imstring.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ImStringGrowth, FollowsTheSixteenByteSteps)
{
    imString s;
    EXPECT_STREQ("", s.getString());
    EXPECT_EQ(2, s.reserved);
    EXPECT_EQ(0, s.capacity);

    ASSERT_EQ(0, s.catString("abc"));
    EXPECT_EQ(7, s.reserved);
    EXPECT_EQ(16, s.capacity);
    const char *block = s.getString();

    ASSERT_EQ(0, s.catString("de"));
    EXPECT_EQ(11, s.reserved);
    EXPECT_EQ(16, s.capacity);
    EXPECT_EQ(block, s.getString()) << "a fitting append stays in place";

    ASSERT_EQ(0, s.catString("fghij"));
    EXPECT_EQ(18, s.reserved);
    EXPECT_EQ(32, s.capacity);
    EXPECT_STREQ("abcdefghij", s.getString());
}

TEST(ImStringGrowth, EmptyAppendStillTakesABlock)
{
    imString s;
    ASSERT_EQ(0, s.catString(""));
    EXPECT_STREQ("", s.getString());
    EXPECT_EQ(4, s.reserved);
    EXPECT_EQ(16, s.capacity);
}

TEST(ImStringGrowth, RepeatedAppendsKeepEveryByte)
{
    imString s;
    std::string expected;
    for (int i = 0; i < 300; i++) {
        const char *piece = i % 3 ? "xyz" : "0123456789abcdefghij";
        int before = s.reserved;
        ASSERT_EQ(0, s.catString(piece));
        expected += piece;
        EXPECT_EQ(before + static_cast<int>(strlen(piece)) + 2, s.reserved);
        EXPECT_EQ(0, s.capacity % 16);
        EXPECT_GT(s.capacity, s.reserved - 16);
        ASSERT_GE(s.capacity, static_cast<int>(expected.size()) + 1);
    }
    EXPECT_EQ(expected, s.getString());
}

TEST(ImStringGrowth, ClearStartsOverWithAFreshBlock)
{
    imString s;
    for (int i = 0; i < 50; i++)
        s.catString("a long enough piece of text");
    ASSERT_GT(s.capacity, 1000);
    s.clear();
    EXPECT_STREQ("", s.getString());
    EXPECT_EQ(2, s.reserved);
    EXPECT_EQ(0, s.capacity);
    ASSERT_EQ(0, s.catString("ab"));
    EXPECT_EQ(16, s.capacity);
    EXPECT_STREQ("ab", s.getString());
}

TEST(ImStringGrowth, RefusesToOverflowTheCounters)
{
    imString s;
    s.catString("kept");
    s.reserved = 0x7ffffff0;
    EXPECT_EQ(-1, s.catString("x"));
    EXPECT_STREQ("kept", s.getString());
}

TEST(ImStringEscape, ValueQuotesGetABackslashAndTheArgumentIsCutAtThem)
{
    imString s;
    char text[] = "say \"hi\" it's";
    EXPECT_EQ(0, s.catStringEscQuote(text));
    EXPECT_STREQ("say \\\"hi\\\" it\\'s", s.getString());
    EXPECT_EQ(0, memcmp(text, "say \0hi\0 it\0s", sizeof text));
}

TEST(ImStringEscape, AdjacentAndTrailingQuotes)
{
    imString s;
    char text[] = "\"\"";
    s.catStringEscQuote(text);
    EXPECT_STREQ("\\\"\\\"", s.getString());

    imString t;
    char apostrophes[] = "''x'";
    t.catStringEscQuote(apostrophes);
    EXPECT_STREQ("\\'\\'x\\'", t.getString());
}

TEST(ImStringEscape, ValueBackslashAndDollarCannotReachPhp)
{
    imString s;
    char text[] = "\\\"; system(\"id\"); // ${x} $y \\";
    s.catStringEscQuote(text);
    EXPECT_STREQ("\\\\\\\"; system(\\\"id\\\"); // \\${x} \\$y \\\\", s.getString());
}

TEST(ImStringEscape, KeysKeepApostrophes)
{
    imString s;
    char text[] = "item id=\"7\" n='$a\\'";
    s.catStringEscKey(text);
    EXPECT_STREQ("item id=\\\"7\\\" n='\\$a\\\\'", s.getString());
}

TEST(ImStringEscape, AppendsAfterExistingContents)
{
    imString s;
    s.catString("pre:");
    char text[] = "a'b";
    s.catStringEscQuote(text);
    EXPECT_STREQ("pre:a\\'b", s.getString());
}

int allocationsLeft;
void *failing_malloc(size_t size)
{
    if (allocationsLeft <= 0)
        return nullptr;
    allocationsLeft--;
    return malloc(size);
}

struct FailingAllocation : ::testing::Test {
    void TearDown() override { imString::allocate = malloc; }
};

int allocations;
void *counting_malloc(size_t size)
{
    allocations++;
    return malloc(size);
}

// A long text must cost linear time: blocks grow geometrically, and escaping
// takes at most one block however many pieces it appends.
TEST_F(FailingAllocation, LongTextsTakeFewBlocks)
{
    imString s;
    std::string piece(4000, 'x');
    imString::allocate = counting_malloc;
    allocations = 0;
    for (int i = 0; i < 1000; i++)
        ASSERT_EQ(0, s.catString(piece.c_str()));
    EXPECT_LE(allocations, 24);
    EXPECT_EQ(4000000u, strlen(s.getString()));

    imString t;
    std::string quotes(100000, '\'');
    allocations = 0;
    ASSERT_EQ(0, t.catStringEscQuote(&quotes[0]));
    EXPECT_EQ(1, allocations);
    EXPECT_EQ(200000u, strlen(t.getString()));
    EXPECT_EQ(2 + 100000 + 5 * 100000 + 2, t.reserved);
}

TEST_F(FailingAllocation, FailedGrowthKeepsTheString)
{
    imString s;
    s.catString("abc");
    int reserved = s.reserved;
    int capacity = s.capacity;
    imString::allocate = failing_malloc;
    allocationsLeft = 0;
    EXPECT_EQ(-1, s.catString("a text that needs a bigger block"));
    EXPECT_STREQ("abc", s.getString());
    EXPECT_EQ(reserved, s.reserved);
    EXPECT_EQ(capacity, s.capacity);
    char quoted[] = "x'y";
    EXPECT_EQ(-1, s.catStringEscQuote(quoted));
}

TEST_F(FailingAllocation, EmptyStringStaysUsableWithoutABlock)
{
    imString::allocate = failing_malloc;
    allocationsLeft = 0;
    imString s;
    EXPECT_STREQ("", s.getString());
    EXPECT_EQ(-1, s.catString("x"));
    s.clear();
    EXPECT_STREQ("", s.getString());

    allocationsLeft = 1;
    ASSERT_EQ(0, s.catString("back"));
    EXPECT_STREQ("back", s.getString());
}

} // namespace
