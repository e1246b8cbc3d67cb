#include <gtest/gtest.h>

#include "HostScript.h"
#include "ReplyParser.h"

namespace quillon::host {
namespace {

using Kind = Reply::Kind;
using Replies = std::vector<std::pair<Kind, std::string>>;

// Every whole reply the parser has, as {kind, value}.
Replies All(ReplyParser& parser, bool quiet) {
    Replies replies;
    while (auto r = parser.Next(quiet))
        replies.emplace_back(r->kind, r->value);
    return replies;
}

TEST(ReplyParser, SplitsARunOfRepliesWithoutTerminators) {
    ReplyParser parser;
    parser.Feed("FILENAME~L~10.0.0.2~QUILLON77.avi@ERROR~Cannot find the QuillonFiles folder, or "
                "access is denied.RE~READYRE~START TIME~-5RE~STOP");
    EXPECT_EQ(All(parser, true),
              (Replies{{Kind::FileName, "L~10.0.0.2~QUILLON77.avi"},
                       {Kind::Error, "Cannot find the QuillonFiles folder, or access is denied."},
                       {Kind::Ack, "READY"},
                       {Kind::Ack, "START"},
                       {Kind::KeepAlive, ""},
                       {Kind::TimeRequest, "-5"},
                       {Kind::Ack, "STOP"}}));
    EXPECT_EQ(parser.SkippedBytes(), 0u);
}

TEST(ReplyParser, WaitsForTheRestOfASplitMessage) {
    ReplyParser parser;
    parser.Feed("RE~ST");
    EXPECT_TRUE(All(parser, false).empty());
    parser.Feed("ARTTIME~12");
    EXPECT_EQ(All(parser, false).size(), 1u); // the clock request may still grow
    parser.Feed("34");
    EXPECT_EQ(All(parser, true), (Replies{{Kind::TimeRequest, "1234"}}));
    parser.Feed("xyzRE~IDLE");
    EXPECT_EQ(All(parser, true).size(), 1u);
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
    for (const char* nonsense : {"READY; JUMP", "wait soon", "READY 100"})
        EXPECT_FALSE(ParseScript(nonsense, error)) << nonsense;
}

} // namespace
} // namespace quillon::host
