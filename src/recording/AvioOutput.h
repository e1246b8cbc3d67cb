#pragma once

// Lets FFmpeg's muxers write through an IFileOutput: a custom AVIOContext whose write and seek
// callbacks go to the output. The buffer is made once when the context is made.

#include "recording/FileOutput.h"

struct AVIOContext;

namespace quillon {

// Returns null when FFmpeg cannot make the context. Free it with FreeAvioOutput, which drops
// bytes still buffered: flush (avio_flush) before, when they are wanted.
AVIOContext* MakeAvioOutput(IFileOutput& output);
void FreeAvioOutput(AVIOContext*& context);

} // namespace quillon
