#include "core/ShareFolders.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace quillon {
namespace {

namespace fs = std::filesystem;

TEST(ShareFolders, ReadsTestparmOutputExactly) {
    const std::string out =
        "[global]\n\tworkgroup = WG\n\n[quillonfiles]\n\tpath = /wrong/case\n\n"
        "[QuillonFiles]\n\tpath = /off\n\tavailable = No\n\n[QuillonFiles]\n\tpath = /srv/q\n"
        "[Other]\n\tpath = /other\n";
    EXPECT_EQ(ShareFolderFromTestparm(out, "QuillonFiles"), "/srv/q");
    EXPECT_EQ(ShareFolderFromTestparm("[global]\n", "QuillonFiles"), "");
    EXPECT_EQ(ShareFolderFromUsershare("#VERSION 2\npath=/home/u/q\nsharename=QuillonFiles\n",
                                       "QuillonFiles"),
              "/home/u/q");
}

TEST(ShareFolders, FindsTheShareThroughSambasOwnParser) {
    char pattern[] = "/tmp/quillon-smb-XXXXXX";
    const fs::path dir = mkdtemp(pattern);
    fs::create_directories(dir / "share");
    fs::create_directories(dir / "usershares");
    const fs::path conf = dir / "smb.conf";
    std::ofstream(conf) << "[global]\n  usershare path = " << (dir / "usershares").string()
                        << "\n[QuillonFiles]\n  path = " << (dir / "share").string()
                        << "\n  guest ok = yes\n";
    EXPECT_EQ(FindShareFolder(conf.string(), "QuillonFiles"), (dir / "share").string());
    // A usershare of that name is found too.
    std::ofstream(dir / "usershares" / "quillonfiles")
        << "#VERSION 2\npath=" << (dir / "user").string() << "\nsharename=QuillonFiles\n";
    std::ofstream(conf) << "[global]\n  usershare path = " << (dir / "usershares").string() << "\n";
    EXPECT_EQ(FindShareFolder(conf.string(), "QuillonFiles"), (dir / "user").string());
    EXPECT_EQ(FindShareFolder((dir / "missing.conf").string(), "QuillonFiles"), "");
    fs::remove_all(dir);
}

} // namespace
} // namespace quillon
