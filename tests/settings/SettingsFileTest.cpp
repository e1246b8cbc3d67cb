#include "settings/SettingsFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/TempDir.h"
#include "settings/IniFile.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

// Beside the program where its folder can take the file, else the user's config folder.
TEST(SettingsPathTest, BesideTheProgramOnlyWhereThatFolderIsWritable) {
    char pattern[] = "/tmp/quillon-settings-path-XXXXXX";
    const fs::path dir = mkdtemp(pattern);
    const std::string xdg = (dir / "xdg").string(), home = (dir / "home").string();
    struct Case {
        std::string programDir;
        const char* xdgConfigHome;
        std::string expected;
    } cases[] = {
        {dir.string(), xdg.c_str(), dir.string() + "/settings.ini"},
        {"/usr/bin", xdg.c_str(), xdg + "/quillon-id/settings.ini"},
        {"/no/such/folder", xdg.c_str(), xdg + "/quillon-id/settings.ini"},
        {"/usr/bin", nullptr, home + "/.config/quillon-id/settings.ini"},
        {"/usr/bin", "relative/config", home + "/.config/quillon-id/settings.ini"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SettingsPathFor(c.programDir, c.xdgConfigHome, home.c_str()), c.expected)
            << c.programDir;
        EXPECT_TRUE(fs::is_directory(fs::path(c.expected).parent_path()));
    }
    fs::remove_all(dir);
}

class SettingsFileTest : public ::testing::Test {
protected:
    void Write(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    std::string Read() {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool Load() { return LoadSettingsFile(path, app, camera); }

    test::TempDir dir{"quillon-settings"};
    std::string path = dir.File("settings.ini");
    AppSettings app;
    CameraSettings camera;
};

constexpr const char* kKeysInOrder[] = {"Directory",
                                        "Port",
                                        "FramesBefore",
                                        "FramesAfter",
                                        "BufferLenght",
                                        "Filetype",
                                        "SavePerformanceLog",
                                        "Exposure",
                                        "Framerate",
                                        "Width",
                                        "Height",
                                        "PixelFormat",
                                        "XOffset",
                                        "YOffset",
                                        "Gain",
                                        "RedGain",
                                        "GreenGain1",
                                        "GreenGain2",
                                        "BlueGain",
                                        "Sharpen",
                                        "Reduction",
                                        "Brightnes",
                                        "Contrast",
                                        "MeanValue",
                                        "AutoCorrection"};

TEST_F(SettingsFileTest, WritesExactlyTheTwentyFiveKeysInOrderAndDropsOthers) {
    Write("[Other]\nx=1\n[Quillon]\nExtra=5\nPort=2100\n");
    ASSERT_TRUE(SaveSettingsFile(path, app, camera));
    std::istringstream lines(Read());
    std::vector<std::string> keys, sections;
    for (std::string line; std::getline(lines, line);) {
        if (line.front() == '[') {
            sections.push_back(line);
        } else {
            keys.push_back(line.substr(0, line.find('=')));
        }
    }
    EXPECT_EQ(sections, (std::vector<std::string>{"[Quillon]", "[QuillonID_Camera]"}));
    EXPECT_EQ(keys, std::vector<std::string>(std::begin(kKeysInOrder), std::end(kKeysInOrder)));
}

TEST_F(SettingsFileTest, RoundTripKeepsEveryValue) {
    app = {1, 2345, 20, 12, 400, kFileWmvAll, 1};
    camera.XOffset = 64;
    camera.YOffset = 8;
    camera.Width = 1024;
    camera.Height = 512;
    camera.PixelFormat = 0;
    camera.Exposure = 2.5f;
    camera.Framerate = 14.985f;
    camera.Sharpen = 2;
    camera.Reduction = 2;
    camera.AutoCorrection = 0;
    camera.Gain = 1000;
    camera.RedGain = 1500;
    camera.GreenGain1 = 1100;
    camera.GreenGain2 = 1200;
    camera.BlueGain = 2500;
    camera.Brightnes = -40;
    camera.Contrast = 250;
    camera.MeanValue = -1;
    ASSERT_TRUE(SaveSettingsFile(path, app, camera));
    EXPECT_NE(Read().find("Exposure=2.500\n"), std::string::npos);
    EXPECT_NE(Read().find("Framerate=15\n"), std::string::npos); // integer part plus one
    EXPECT_NE(Read().find("Filetype=WMV (ALL)\n"), std::string::npos);

    AppSettings app2;
    CameraSettings cam2;
    ASSERT_TRUE(LoadSettingsFile(path, app2, cam2));
    EXPECT_EQ(app2.Directory, 1);
    EXPECT_EQ(app2.Port, 2345);
    EXPECT_EQ(app2.FramesBefore, 20);
    EXPECT_EQ(app2.FramesAfter, 12);
    EXPECT_EQ(app2.BufferLenght, 400);
    EXPECT_EQ(app2.Filetype, kFileWmvAll);
    EXPECT_EQ(app2.SavePerformanceLog, 1);
    EXPECT_EQ(cam2.Framerate, 15.0f);
    EXPECT_FLOAT_EQ(cam2.Exposure, 2.5f);
    EXPECT_EQ(cam2.Width, 1024u);
    EXPECT_EQ(cam2.XOffset, 64u);
    EXPECT_EQ(cam2.Reduction, 2u);
    EXPECT_EQ(cam2.BlueGain, 2500u);
    EXPECT_EQ(cam2.Brightnes, -40);
    EXPECT_EQ(cam2.Contrast, 250);
    EXPECT_EQ(cam2.MeanValue, -1);
    EXPECT_EQ(cam2.Sharpen, 2);
    EXPECT_EQ(cam2.AutoCorrection, 0);
}

TEST_F(SettingsFileTest, ClampsFramesAroundAndRaisesTheRing) {
    Write("[Quillon]\nFramesBefore=5\nFramesAfter=0\nBufferLenght=100\n");
    ASSERT_TRUE(Load());
    EXPECT_EQ(app.FramesBefore, 15);
    EXPECT_EQ(app.FramesAfter, 10);
    EXPECT_EQ(app.BufferLenght, 250);
    Write("[Quillon]\nFramesBefore=15\nFramesAfter=10\nBufferLenght=400\n");
    ASSERT_TRUE(Load());
    EXPECT_EQ(app.BufferLenght, 400);
    // Huge counts stay within bounds, and the ring still holds ten times the window.
    Write("[Quillon]\nFramesBefore=2147483647\nFramesAfter=99999999999\nBufferLenght=-3\n");
    ASSERT_TRUE(Load());
    EXPECT_EQ(app.FramesBefore, kMaxFramesAround);
    EXPECT_EQ(app.FramesAfter, kMaxFramesAround);
    EXPECT_EQ(app.BufferLenght, 10 * 2 * kMaxFramesAround);
}

TEST_F(SettingsFileTest, MissingKeysReadAsZeroThroughTheirRules) {
    Write("[Quillon]\n");
    ASSERT_TRUE(Load());
    EXPECT_EQ(app.Port, 2000);
    EXPECT_EQ(app.FramesBefore, 15);
    EXPECT_EQ(app.FramesAfter, 10);
    EXPECT_EQ(app.BufferLenght, 250);
    EXPECT_EQ(app.Filetype, kFileVlv);
    EXPECT_EQ(camera.Width, 0u);
    EXPECT_EQ(camera.Gain, 0u);
    EXPECT_EQ(camera.Exposure, 0.0f);
    EXPECT_EQ(camera.MeanValue, 0);
    // Values that later code divides by are mended instead of passed on.
    EXPECT_EQ(camera.Reduction, 1u);
    EXPECT_EQ(camera.Framerate, 4.0f);
}

TEST_F(SettingsFileTest, GarbageValuesNeverLeaveTheirRange) {
    Write("[quillon]\nport=70000\nfiletype=wmv\nDIRECTORY= 1 \n"
          "[QUILLONID_CAMERA]\nReduction=7\nFramerate=-25\nExposure=1e999\n"
          "Brightnes=-900\nContrast=123456\nMeanValue=999\nWidth=abc\n");
    ASSERT_TRUE(Load());
    EXPECT_EQ(app.Port, 2000);
    EXPECT_EQ(app.Filetype, kFileVlv); // only the exact, case-sensitive text counts
    EXPECT_EQ(app.Directory, 1);       // section and key names in any case
    EXPECT_EQ(camera.Reduction, 1u);
    EXPECT_EQ(camera.Framerate, 4.0f);
    EXPECT_EQ(camera.Exposure, 0.0f);
    EXPECT_EQ(camera.Brightnes, -255);
    EXPECT_EQ(camera.Contrast, 900);
    EXPECT_EQ(camera.MeanValue, 255);
    EXPECT_EQ(camera.Width, 0u);
}

TEST_F(SettingsFileTest, MissingFileLeavesTheRecordsAlone) {
    app.Port = 1234;
    EXPECT_FALSE(Load());
    EXPECT_EQ(app.Port, 1234);
    SetDefaultSettings(app, camera);
    EXPECT_EQ(app.Port, 2000);
    EXPECT_EQ(camera.Width, 600u);
    EXPECT_EQ(camera.XOffset, 624u);
    EXPECT_EQ(camera.MeanValue, 100);
    EXPECT_EQ(camera.Framerate, 4.0f);
}

// A settings.ini that opens but cannot be read (a folder of that name) is unreadable, not an
// empty file whose missing keys would all read as 0.
TEST_F(SettingsFileTest, UnreadableFileLeavesTheRecordsAlone) {
    fs::create_directory(path);
    app.Port = 1234;
    EXPECT_FALSE(Load());
    EXPECT_EQ(app.Port, 1234);
}

TEST_F(SettingsFileTest, FailedWriteLeavesTheOldFileWhole) {
    Write("[Quillon]\nPort=2100\n");
    // The new file cannot be made (a folder stands in its way, even for root).
    fs::create_directory(path + ".new");
    EXPECT_FALSE(SaveSettingsFile(path, app, camera));
    EXPECT_EQ(Read(), "[Quillon]\nPort=2100\n");
    EXPECT_FALSE(SaveSettingsFile(dir.File("missing/settings.ini"), app, camera));
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

} // namespace
} // namespace quillon
