// The recorder's rules, each on its own: which frames a recording admits (by sequence number,
// and through what ends up in the files), which kind of file a name makes, and how the login file
// for network shares is read.

#include "TestSupport.h"
#include "recording/FrameAdmission.h"
#include "recording/SmbClient.h"

namespace quillon::test {
namespace {

using Sequences = std::vector<uint32_t>;

// first, then ten frames from `from` on in steps of `step`, then the rest.
Sequences WithTen(uint32_t first, uint32_t from, uint32_t step, const Sequences& rest) {
    Sequences all{first};
    for (uint32_t i = 0; i < 10; ++i)
        all.push_back(from + i * step);
    all.insert(all.end(), rest.begin(), rest.end());
    return all;
}

// How many of the offered frames a recording keeps.
uint32_t Recorded(const std::string& path, const Sequences& offered,
                  FrameAdmission* admission = nullptr) {
    CQuillonFile recording(path, 25, 4, 1, std::make_unique<LocalFileOutput>(path), admission);
    const uint8_t frame[4] = {};
    for (uint32_t sequence : offered)
        recording.WriteFrame(4, 1, frame, 8, 0, sequence);
    return recording.GetFramesWritten();
}

// The admission rule, case by case; a recording given a shared rule carries it on from the one
// before, one without starts afresh.
TEST(FrameAdmission, JumpsRepeatsAndResyncsAndASharedRuleCarriesOverBetweenRecordings) {
    // {every-frame mode, offered, admitted, rejections}
    const std::tuple<bool, Sequences, Sequences, uint32_t> cases[] = {
        // Repeats and older frames go.
        {false, {1, 2, 2, 3, 1, 4}, {1, 2, 3, 4}, 0},
        // A jump of exactly 1500000 passes, one more does not.
        {false, {10, 1500010, 3000011, 1500011}, {10, 1500010, 1500011}, 0},
        // The first frame compares with zero.
        {false, {1500001}, {}, 1},
        // After ten rejections the next is admitted whatever its jump.
        {false, WithTen(100, 5000000, 1, {9000000, 9000001, 1}), {100, 9000000, 9000001}, 1},
        // After ten rejections an older frame is still dropped, and the jump test resumes.
        {false, WithTen(2000, 4000000, 0, {1000, 3000000, 2001}), {2000, 2001}, 0},
        // Every-frame mode keeps repeats and older frames, but not wild jumps.
        {true, {5, 5, 3, 1500003, 3000004}, {5, 5, 3, 1500003}, 1},
    };
    for (const auto& [everyFrame, offered, expected, rejections] : cases) {
        SCOPED_TRACE(::testing::PrintToString(offered));
        FrameAdmission admission;
        Sequences admitted;
        for (uint32_t s : offered)
            if (admission.Admit(s, everyFrame))
                admitted.push_back(s);
        EXPECT_EQ(admitted, expected);
        EXPECT_EQ(admission.Rejections(), rejections);
    }
    const TempDir dir;
    FrameAdmission shared;
    EXPECT_EQ(Recorded(dir.File("1.vlv"), {5, 6, 7}, &shared), 3u);
    EXPECT_EQ(Recorded(dir.File("2.vlv"), {6, 7, 8}, &shared), 1u); // 8 only
    EXPECT_EQ(Recorded(dir.File("3.vlv"), {6, 7, 8}), 3u);
}

TEST(RecordingFile, ExtensionDecidesTheKindWhateverItsCase) {
    const std::pair<const char*, FileKind> cases[] = {{"a.AVI", kFileAvi},     {"a.aVi", kFileAvi},
                                                      {"a.Wmv", kFileWmv},     {"a.vlv", kFileVlv},
                                                      {"a.avi.bak", kFileVlv}, {"vi", kFileVlv}};
    for (const auto& [path, kind] : cases)
        EXPECT_EQ(CQuillonFile::KindForPath(path), kind) << path;
}

TEST(SmbClient, ReadsSmbclientsAuthenticationFile) {
    const TempDir dir;
    // {file text (none: no file), user, password, domain}; without a user the file is refused.
    const std::tuple<const char*, std::string, std::string, std::string> cases[] = {
        {"username = racer\npassword =  two words \ndomain = TRACK\n", "racer", "two words",
         "TRACK"},
        {"# host account\n\n; old\nusername=racer\npassword = a=b\n", "racer", "a=b", ""},
        {"password = secret\n", "", "", ""},
        {"username = racer\npasword = secret\n", "", "", ""}, // misspelt key
        {nullptr, "", "", ""}};
    for (const auto& [text, user, password, domain] : cases) {
        SCOPED_TRACE(text ? text : "no file");
        const std::string path = dir.File(text ? "auth" : "missing");
        if (text)
            std::ofstream(path) << text;
        SmbLogin login;
        std::string error;
        EXPECT_EQ(ReadSmbAuthFile(path, login, error), !user.empty()) << error;
        EXPECT_EQ(error.empty(), !user.empty());
        EXPECT_EQ(login.user + "|" + login.password + "|" + login.domain,
                  user + "|" + password + "|" + domain);
    }
}

} // namespace
} // namespace quillon::test
