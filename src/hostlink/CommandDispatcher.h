#pragma once

#include <string_view>

namespace quillon {

class RaceCommands;

// Runs the commands found in one received block. Each keyword is looked for once, in a fixed
// order, with a plain case-sensitive search; so a block with several commands runs them in
// that order whatever their order in the block, and a keyword that occurs twice runs once.
// Nothing is carried over between blocks.
void DispatchCommands(std::string_view block, RaceCommands& commands);

// The parameter of a keyword: from `offset` characters after the keyword's start up to the
// first '@' at or after it; empty when no '@' follows.
std::string_view ParameterAfter(std::string_view block, size_t keywordPos, size_t offset);

} // namespace quillon
