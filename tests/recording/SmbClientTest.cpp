#include "recording/SmbClient.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace quillon {
namespace {

TEST(SmbClient, ReadsSmbclientsAuthenticationFile) {
    char pattern[] = "/tmp/quillon-auth-XXXXXX";
    const std::filesystem::path dir = mkdtemp(pattern);
    const struct {
        const char* text;
        bool ok;
        SmbLogin login;
    } cases[] = {
        {"username = racer\npassword =  two words \ndomain = TRACK\n",
         true,
         {"racer", "two words", "TRACK"}},
        {"# host account\n\n; old\nusername=racer\npassword = a=b\n", true, {"racer", "a=b", ""}},
        {"password = secret\n", false, {}},                  // no user
        {"username = racer\npasword = secret\n", false, {}}, // misspelt key
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::ofstream(dir / "auth") << c.text;
        SmbLogin login;
        std::string error;
        EXPECT_EQ(ReadSmbAuthFile((dir / "auth").string(), login, error), c.ok) << error;
        EXPECT_EQ(login.user, c.login.user);
        EXPECT_EQ(login.password, c.login.password);
        EXPECT_EQ(login.domain, c.login.domain);
        EXPECT_EQ(error.empty(), c.ok);
    }
    std::string error;
    SmbLogin login;
    EXPECT_FALSE(ReadSmbAuthFile((dir / "missing").string(), login, error));
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace quillon
