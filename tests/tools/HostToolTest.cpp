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

// A run of replies without terminators, fed in pieces that split messages: each reply comes
// whole once its end is known (a clock request may still grow until the stream is quiet), and
// bytes that fit no reply are skipped and counted.
TEST(ReplyParser, SplitsARunOfRepliesFedInPieces) {
    ReplyParser parser;
    parser.Feed("FILENAME~L~10.0.0.2~QUILLON77.avi@ERROR~Cannot find the QuillonFiles folder, or "
                "access is denied.RE~READYRE~START TIME~-5RE~ST");
    EXPECT_EQ(All(parser, false),
              (Replies{{Kind::FileName, "L~10.0.0.2~QUILLON77.avi"},
                       {Kind::Error, "Cannot find the QuillonFiles folder, or access is denied."},
                       {Kind::Ack, "READY"},
                       {Kind::Ack, "START"},
                       {Kind::KeepAlive, ""},
                       {Kind::TimeRequest, "-5"}}));
    parser.Feed("OPTIME~12");
    EXPECT_EQ(All(parser, false), (Replies{{Kind::Ack, "STOP"}}));
    parser.Feed("34xyzRE~IDLE");
    EXPECT_EQ(All(parser, true), (Replies{{Kind::TimeRequest, "1234"}, {Kind::Ack, "IDLE"}}));
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
