#include "recording/SmbClient.h"

#include <gtest/gtest.h>

#include <fstream>

#include "common/TempDir.h"

namespace quillon {
namespace {

TEST(SmbClient, ReadsSmbclientsAuthenticationFile) {
    const test::TempDir dir;
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
        std::ofstream(dir.File("auth")) << c.text;
        SmbLogin login;
        std::string error;
        EXPECT_EQ(ReadSmbAuthFile(dir.File("auth"), login, error), c.ok) << error;
        EXPECT_EQ(login.user, c.login.user);
        EXPECT_EQ(login.password, c.login.password);
        EXPECT_EQ(login.domain, c.login.domain);
        EXPECT_EQ(error.empty(), c.ok);
    }
    std::string error;
    SmbLogin login;
    EXPECT_FALSE(ReadSmbAuthFile(dir.File("missing"), login, error));
}

} // namespace
} // namespace quillon
