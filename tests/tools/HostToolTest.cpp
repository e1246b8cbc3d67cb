#include <gtest/gtest.h>

#include "HostScript.h"
#include "ReplyParser.h"

namespace quillon::host {
namespace {

std::vector<Reply> All(ReplyParser& parser, bool quiet) {
    std::vector<Reply> replies;
    while (auto r = parser.Next(quiet))
        replies.push_back(*r);
    return replies;
}

TEST(ReplyParser, SplitsARunOfRepliesWithoutTerminators) {
    ReplyParser parser;
    parser.Feed("FILENAME~L~10.0.0.2~QUILLON77.avi@ERROR~Cannot find the QuillonFiles folder, or "
                "access is denied.RE~READYRE~START TIME~-5RE~STOP");
    const auto replies = All(parser, true);
    ASSERT_EQ(replies.size(), 7u);
    EXPECT_EQ(replies[0].kind, Reply::Kind::FileName);
    EXPECT_EQ(replies[0].value, "L~10.0.0.2~QUILLON77.avi");
    EXPECT_EQ(replies[1].kind, Reply::Kind::Error);
    EXPECT_EQ(replies[2].value, "READY");
    EXPECT_EQ(replies[3].value, "START");
    EXPECT_EQ(replies[4].kind, Reply::Kind::KeepAlive);
    EXPECT_EQ(replies[5].kind, Reply::Kind::TimeRequest);
    EXPECT_EQ(replies[5].value, "-5");
    EXPECT_EQ(replies[6].value, "STOP");
    EXPECT_EQ(parser.SkippedBytes(), 0u);
}

TEST(ReplyParser, WaitsForTheRestOfASplitMessage) {
    ReplyParser parser;
    parser.Feed("RE~ST");
    EXPECT_TRUE(All(parser, false).empty());
    parser.Feed("ARTTIME~12");
    auto replies = All(parser, false);
    ASSERT_EQ(replies.size(), 1u); // the clock request may still grow
    parser.Feed("34");
    replies = All(parser, true);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].value, "1234");
    parser.Feed("xyzRE~IDLE");
    replies = All(parser, true);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(parser.SkippedBytes(), 3u);
}

TEST(HostScript, ParsesStepsAndRefusesNonsense) {
    std::string error;
    const auto steps =
        ParseScript("READY; start\nwait 1.5; ARRIVAL 61000; ENDARRIVAL;raw CMD~X", error);
    ASSERT_TRUE(steps) << error;
    ASSERT_EQ(steps->size(), 6u);
    EXPECT_EQ((*steps)[1].command, "START");
    EXPECT_DOUBLE_EQ((*steps)[2].seconds, 1.5);
    EXPECT_EQ(CommandText((*steps)[3], 5), "CMD~ARRIVAL~61000@");
    EXPECT_EQ(CommandText((*steps)[4], 5), "CMD~ENDARRIVAL~5@");
    EXPECT_EQ((*steps)[5].raw, "CMD~X");
    EXPECT_FALSE(ParseScript("READY; JUMP", error));
    EXPECT_FALSE(ParseScript("wait soon", error));
    EXPECT_FALSE(ParseScript("READY 100", error));
}

} // namespace
} // namespace quillon::host
