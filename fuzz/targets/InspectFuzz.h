#pragma once

// Recordings that arrive from elsewhere: quillon-inspect's reader of one file kind runs over
// whatever the file holds, with --check on (every consistency check runs) and no export.

#include <sstream>

#include "../../tools/inspect/Inspection.h"
#include "ScratchFile.h"

namespace quillon::fuzz {

using Inspector = void (*)(const inspect::InputFile&, const inspect::Options&, std::ostream&,
                           inspect::Inspection&);

inline int InspectOne(Inspector inspector, const uint8_t* data, size_t size) {
    static ScratchFile scratch("recording");
    scratch.Fill(data, size);
    inspect::InputFile file(scratch.Path());
    if (!file.IsOpen())
        Broken("the recording could not be opened");
    inspect::Options options;
    options.check = true;
    std::ostringstream out;
    inspect::Inspection result;
    inspector(file, options, out, result);
    return 0;
}

} // namespace quillon::fuzz
