#include "recording/SmbClient.h"
#include "TestSupport.h"

namespace quillon::test {
namespace {

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
