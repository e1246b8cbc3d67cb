#include "core/ShareFolders.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/TempDir.h"

namespace quillon {
namespace {

// Testparm's output is read exactly: the name's case, a share that is not available, the first
// of the rest. Samba's own parser finds the share, also as a usershare's own file.
TEST(ShareFolders, FindsTheShareThroughSambasOwnParserAndReadsItsOutputExactly) {
    const std::string out =
        "[global]\n\tworkgroup = WG\n\n[quillonfiles]\n\tpath = /wrong/case\n\n"
        "[QuillonFiles]\n\tpath = /off\n\tavailable = No\n\n[QuillonFiles]\n\tpath = /srv/q\n"
        "[Other]\n\tpath = /other\n";
    EXPECT_EQ(ShareFolderFromTestparm(out, "QuillonFiles"), "/srv/q");
    EXPECT_EQ(ShareFolderFromTestparm("[global]\n", "QuillonFiles"), "");
    test::TempDir dir("quillon-smb");
    std::filesystem::create_directories(dir.File("usershares"));
    const std::string conf = dir.File("smb.conf");
    const std::string global = "[global]\n  usershare path = " + dir.File("usershares") + "\n";
    std::ofstream(conf) << global << "[QuillonFiles]\n  path = " << dir.File("share") << "\n";
    EXPECT_EQ(FindShareFolder(conf, "QuillonFiles"), dir.File("share"));
    // A usershare of that name is found too.
    std::ofstream(dir.File("usershares/quillonfiles"))
        << "#VERSION 2\npath=" << dir.File("user") << "\nsharename=QuillonFiles\n";
    std::ofstream(conf) << global;
    EXPECT_EQ(FindShareFolder(conf, "QuillonFiles"), dir.File("user"));
    EXPECT_EQ(FindShareFolder(dir.File("missing.conf"), "QuillonFiles"), "");
}

} // namespace
} // namespace quillon
