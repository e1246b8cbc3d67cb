#include "hostlink/CommandDispatcher.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/RaceCommands.h"

namespace quillon {
namespace {

// Records the operations a block runs, with their parameters.
struct Recorder : RaceCommands {
    std::vector<std::string> calls;
    void OnIdle() override { calls.push_back("IDLE"); }
    void OnReady() override { calls.push_back("READY"); }
    void OnStart() override { calls.push_back("START"); }
    void OnArrival(std::string_view t) override {
        calls.push_back("ARRIVAL(" + std::string(t) + ")");
    }
    void OnEndArrival(std::string_view t) override {
        calls.push_back("ENDARRIVAL(" + std::string(t) + ")");
    }
    void OnSaveCommand() override { calls.push_back("SAVE"); }
    void OnStop() override { calls.push_back("STOP"); }
    void OnTimeReply(std::string_view t) override {
        calls.push_back("TIME(" + std::string(t) + ")");
    }
};

std::vector<std::string> Dispatched(std::string_view block) {
    Recorder r;
    DispatchCommands(block, r);
    return r.calls;
}

using Calls = std::vector<std::string>;

TEST(CommandDispatcher, RunsKeywordsInFixedOrderOnceEach) {
    EXPECT_EQ(Dispatched("CMD~READYCMD~START"), (Calls{"READY", "START"}));
    EXPECT_EQ(Dispatched("CMD~STARTCMD~READY"), (Calls{"READY", "START"}));
    EXPECT_EQ(Dispatched("CMD~STOPCMD~SAVECMD~IDLECMD~STOP"), (Calls{"IDLE", "SAVE", "STOP"}));
    EXPECT_EQ(Dispatched("cmd~ready"), Calls{});
}

TEST(CommandDispatcher, ArrivalParametersEndAtTheNextAt) {
    EXPECT_EQ(Dispatched("CMD~ARRIVAL~61234@"), Calls{"ARRIVAL(61234)"});
    EXPECT_EQ(Dispatched("CMD~ARRIVAL~61234"), Calls{"ARRIVAL()"}); // no '@': empty
    EXPECT_EQ(Dispatched("CMD~ENDARRIVAL~70000@"), Calls{"ENDARRIVAL(70000)"});
    EXPECT_EQ(Dispatched("CMD~ARRIVAL"), Calls{"ARRIVAL()"});
    EXPECT_EQ(Dispatched("CMD~ARRIVAL~5@CMD~ENDARRIVAL~9@"),
              (Calls{"ARRIVAL(5)", "ENDARRIVAL(9)"}));
}

TEST(CommandDispatcher, ClockReplyTakesTheTextAfterTheLastTilde) {
    EXPECT_EQ(Dispatched("TIME~60000@"), Calls{"TIME(60000)"});
    EXPECT_EQ(Dispatched("TIME~60000@CMD~ARRIVAL~61000@"),
              (Calls{"ARRIVAL(61000)", "TIME(61000)"}));
    // No "~" at all: nothing to read, the clock is left alone.
    EXPECT_EQ(Dispatched("TIME"), Calls{});
    EXPECT_EQ(Dispatched("TIME~"), Calls{"TIME()"});
}

TEST(CommandDispatcher, BlockEndsAtItsFirstZeroByte) {
    EXPECT_EQ(Dispatched(std::string_view("CMD~IDLE\0CMD~STOP", 17)), Calls{"IDLE"});
}

TEST(CommandDispatcher, RandomBytesNeverCrash) {
    std::mt19937 random(7);
    const std::string alphabet("CMD~IDLEREAYSTRVPOTNA@0123456789\0x", 35);
    for (int round = 0; round < 20000; ++round) {
        std::string block(random() % 1025, ' ');
        for (char& c : block)
            c = alphabet[random() % alphabet.size()];
        Recorder r;
        DispatchCommands(block, r);
        EXPECT_LE(r.calls.size(), 8u);
    }
}

} // namespace
} // namespace quillon
