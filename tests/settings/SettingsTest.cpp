#include "settings/SettingsFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "common/TempDir.h"
#include "settings/IniFile.h"
#include "settings/PerformanceLog.h"
#include "text/TextNumbers.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;

std::string ReadFile(const std::string& path) {
    return {std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
}

class SettingsFileTest : public ::testing::Test {
protected:
    void Write(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    bool Load() { return LoadSettingsFile(path, app, camera); }
    bool Save() { return SaveSettingsFile(path, app, camera); }

    test::TempDir dir{"quillon-settings"};
    std::string path = dir.File("settings.ini");
    AppSettings app;
    CameraSettings camera;
};

// Beside the program where its folder can take the file, else the user's config folder.
TEST_F(SettingsFileTest, PathIsBesideTheProgramOnlyWhereThatFolderIsWritable) {
    const std::string xdg = dir.File("xdg"), home = dir.File("home");
    // The program's folder, $XDG_CONFIG_HOME, and where the file goes.
    const std::tuple<std::string, const char*, std::string> cases[] = {
        {dir.Path(), xdg.c_str(), dir.File("settings.ini")},
        {"/usr/bin", xdg.c_str(), xdg + "/quillon-id/settings.ini"},
        {"/no/such/folder", xdg.c_str(), xdg + "/quillon-id/settings.ini"},
        {"/usr/bin", nullptr, home + "/.config/quillon-id/settings.ini"},
        {"/usr/bin", "relative/config", home + "/.config/quillon-id/settings.ini"},
    };
    for (const auto& [programDir, xdgConfigHome, expected] : cases) {
        EXPECT_EQ(SettingsPathFor(programDir, xdgConfigHome, home.c_str()), expected) << programDir;
        EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(expected).parent_path()));
    }
}

// Exactly the twenty-five keys in their sections and order, other keys dropped; every value
// reads back as it was (the frame rate is stored as its integer part plus one), and values read
// through their rules never leave their range.
TEST_F(SettingsFileTest, RoundTripKeepsEveryValueUnderTheTwentyFiveKeysAndRulesKeepTheRange) {
    Write("[Other]\nx=1\n[Quillon]\nExtra=5\nPort=2100\n");
    app = {1, 2345, 20, 12, 400, kFileWmvAll, 1};
    camera = {64, 8,    1024, 512,  3,    2.5f, 14.985f, 2,   2,
              0,  1000, 1500, 1100, 1200, 2500, -40,     250, -1};
    ASSERT_TRUE(Save());
    const std::string written = ReadFile(path);
    EXPECT_EQ(std::regex_replace(written, std::regex("=.*\n|\n"), " "),
              "[Quillon] Directory Port FramesBefore FramesAfter BufferLenght Filetype "
              "SavePerformanceLog [QuillonID_Camera] Exposure Framerate Width Height "
              "PixelFormat XOffset YOffset Gain RedGain GreenGain1 GreenGain2 BlueGain "
              "Sharpen Reduction Brightnes Contrast MeanValue AutoCorrection ");
    for (const char* line : {"Exposure=2.500\n", "Framerate=15\n", "Filetype=WMV (ALL)\n"})
        EXPECT_NE(written.find(line), std::string::npos) << line;
    app = {}, camera = {};
    ASSERT_TRUE(Load());
    EXPECT_EQ(camera.Framerate, 15.0f);
    camera.Framerate = 14.985f;
    ASSERT_TRUE(Save());
    EXPECT_EQ(ReadFile(path), written);
    // Values read through their rules never leave their range: the values loaded from a file,
    // as the file written from them shows them.
    const std::string most = std::to_string(kMaxFramesAround);
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        // Frames around an arrival are clamped, and the ring holds ten times the window.
        {"[Quillon]\nFramesBefore=5\nFramesAfter=0\nBufferLenght=100\n",
         {"FramesBefore=15", "FramesAfter=10", "BufferLenght=250"}},
        {"[Quillon]\nFramesBefore=15\nFramesAfter=10\nBufferLenght=400\n", {"BufferLenght=400"}},
        {"[Quillon]\nFramesBefore=2147483647\nFramesAfter=99999999999\nBufferLenght=-3\n",
         {"FramesBefore=" + most, "FramesAfter=" + most,
          "BufferLenght=" + std::to_string(10 * 2 * kMaxFramesAround)}},
        // Missing keys read as 0 through their rules; what later code divides by is never 0.
        {"[Quillon]\n",
         {"Port=2000", "BufferLenght=250", "Filetype=VLV", "Width=0", "Gain=0", "Exposure=0.000",
          "MeanValue=0", "Reduction=1", "Framerate=5"}},
        // Section and key names in any case; a file type only in its exact text.
        {"[quillon]\nport=70000\nfiletype=wmv\nDIRECTORY= 1 \n[QUILLONID_CAMERA]\nReduction=7\n"
         "Framerate=-25\nExposure=1e999\nBrightnes=-900\nContrast=123456\nMeanValue=999\n"
         "Width=abc\n",
         {"Port=2000", "Filetype=VLV", "Directory=1", "Reduction=1", "Framerate=5",
          "Exposure=0.000", "Brightnes=-255", "Contrast=900", "MeanValue=255", "Width=0"}},
    };
    for (const auto& [text, lines] : cases) {
        Write(text);
        ASSERT_TRUE(Load());
        ASSERT_TRUE(Save());
        const std::string file = "\n" + ReadFile(path);
        for (const std::string& line : lines)
            EXPECT_NE(file.find("\n" + line + "\n"), std::string::npos) << text << line;
    }
}

// A settings.ini that is missing, or opens but cannot be read (a folder of that name), leaves
// the records alone; it is not an empty file whose missing keys would all read as 0. A write
// that fails leaves the old file whole.
TEST_F(SettingsFileTest, FilesThatCannotBeReadOrWrittenChangeNothing) {
    app.Port = 1234;
    EXPECT_FALSE(Load());
    Write("[Quillon]\nPort=2100\n");
    // The new file cannot be made (a folder stands in its way, even for root).
    std::filesystem::create_directory(path + ".new");
    EXPECT_FALSE(Save());
    EXPECT_EQ(ReadFile(path), "[Quillon]\nPort=2100\n");
    EXPECT_FALSE(SaveSettingsFile(dir.File("missing/settings.ini"), app, camera));
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    EXPECT_FALSE(Load());
    EXPECT_EQ(app.Port, 1234);
    SetDefaultSettings(app, camera);
    EXPECT_EQ(
        std::tuple(app.Port, camera.Width, camera.XOffset, camera.MeanValue, camera.Framerate),
        std::tuple(2000, 600u, 624u, 100, 4.0f));
}

TEST(IniFile, FirstDuplicateWinsAndLongValuesAreCut) {
    IniFile ini;
    ini.Parse("; comment\r\n[A]\r\nkey = first \r\nKEY=second\r\nlong=" + std::string(400, 'x') +
              "\r\n[a]\r\nmore=1\r\n");
    EXPECT_EQ(ini.Get("a", "Key", "0"), "first");
    EXPECT_EQ(ini.Get("A", "long", "0").size(), IniFile::kMaxValueLength);
    EXPECT_EQ(ini.Get("A", "more", "0"), "1");
    EXPECT_EQ(ini.Get("B", "key", "0"), "0");
}

// Frame 20.5 ms; stages 10.5 ms, 0.9 ms, 0, 2 ms, 3.999 ms and 1 ms, from `start` on.
using Clock = PerformanceLog::Clock;
std::array<Clock::time_point, PerformanceLog::kStampCount> SomeFrame(Clock::time_point start = {}) {
    const Clock::duration at[] = {0ms,  1ms,  11500us, 12ms,    12900us, 13ms, 13ms,
                                  13ms, 15ms, 15ms,    18999us, 19ms,    20ms, 20500us};
    std::array<Clock::time_point, PerformanceLog::kStampCount> s{};
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = start + at[i];
    return s;
}
constexpr const char* kSomeLine = "20\t10\t0\t0\t2\t3\t1\r\n";

// The file is named after the format and opens with the machine's header; lines wait in a
// buffer until a frame ends more than a second after the last write, and a second run empties
// the file. Without a file (something stands where its folder would be, or the log is off) no
// lines.
using PerformanceLogTest = SettingsFileTest;
TEST_F(PerformanceLogTest, HeaderLinesAndASecondRunFollowTheFormatAndTheFrameRate) {
    app.SavePerformanceLog = 1, camera.Width = 800, camera.Height = 400;
    camera.Framerate = 15.0f; // 66.7 ms per frame, cut to 66
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const std::string header =
        std::string("Computer name\t") + host +
        "\r\nCPU frequency\t1000000000\r\nTime unit\tmillisecond\r\nMilliseconds per frame\r\n"
        "66\r\nTotal time\tRgb conversion\tReduction frame time\tAdjustment time\t"
        "Calculation time\tShow frame time\tSave frame time\r\n";
    {
        PerformanceLog first;
        ASSERT_TRUE(first.Create(app, camera, dir.File("Orlin"))); // makes the folder
        EXPECT_EQ(first.Path(), dir.File("Orlin/Time test 800x400, fps 15, reduction 1.csv"));
        first.Append(SomeFrame());
        EXPECT_EQ(first.Durations(), (std::array<int32_t, 7>{20, 10, 0, 0, 2, 3, 1}));
        first.Flush();
        EXPECT_EQ(ReadFile(first.Path()), header + kSomeLine);
        first.Append(SomeFrame());
    }
    PerformanceLog second;
    ASSERT_TRUE(second.Create(app, camera, dir.File("Orlin")));
    second.Append(SomeFrame());
    EXPECT_EQ(ReadFile(second.Path()), header); // the first run's lines gone, the new one buffered
    second.Append(SomeFrame(Clock::now() + 2s));
    EXPECT_EQ(ReadFile(second.Path()), header + kSomeLine + kSomeLine);
    std::ofstream(dir.File("file")) << "x";
    PerformanceLog none;
    EXPECT_FALSE(none.Create(app, camera, dir.File("file/Orlin")));
    app.SavePerformanceLog = 0;
    EXPECT_FALSE(none.Create(app, camera, dir.File("Off")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("Off")));
    none.Append(SomeFrame()); // dropped, no crash
    EXPECT_FALSE(none.IsOpen());
}

TEST(TextNumbers, NumbersFollowAtoiAndStrtodWithoutOverflowHexOrInfinity) {
    const std::pair<const char*, int32_t> ints[] = {{"  42abc", 42}, {"-17", -17}, {"+8", 8},
                                                    {"abc", 0},      {"", 0},      {"- 5", 0}};
    for (const auto& [text, value] : ints)
        EXPECT_EQ(ParseInt(text), value) << text;
    EXPECT_EQ(ParseInt("99999999999999999999"), INT32_MAX);
    EXPECT_EQ(ParseInt("-99999999999999999999"), INT32_MIN);
    EXPECT_EQ(ParseRaceTime("-1"), 0xFFFFFFFFu);
    // Decimals read a fraction and an exponent only; a comma ends the number.
    const std::pair<const char*, double> decimals[] = {
        {" 2.5ms", 2.5}, {"1e2", 100.0}, {"-.5", -0.5},  {"0x10", 0.0},
        {"inf", 0.0},    {"nan", 0.0},   {"1e999", 0.0}, {"14,985", 14.0}};
    for (const auto& [text, value] : decimals)
        EXPECT_DOUBLE_EQ(ParseDecimal(text), value) << text;
}

} // namespace
} // namespace quillon
