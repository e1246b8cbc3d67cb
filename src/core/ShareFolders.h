#pragma once

#include <string>
#include <string_view>

namespace quillon {

// The local folder of a Samba share, read with Samba's own parser (testparm) from the given
// configuration, plus the usershares it points to. Shares marked "available = No" are skipped;
// the name is compared exactly (case-sensitive); when several match, the last one wins.
// Returns an empty text when there is no such share or the configuration cannot be read.
std::string FindShareFolder(const std::string& smbConf, std::string_view shareName);

// The parsing steps, apart so they can be checked on fixed texts.
std::string ShareFolderFromTestparm(std::string_view testparmOutput, std::string_view shareName);
std::string ShareFolderFromUsershare(std::string_view usershareFile, std::string_view shareName);

} // namespace quillon
