#pragma once

#include <string>
#include <utility>
#include <vector>

namespace korvanel {

// Replaces each token, in the order given, at every place it stands
// (case-sensitive). The search goes on after each inserted value, so a
// value is never expanded again by its own token, though a later token
// may expand it.
std::string expandTokens(std::string text, const std::vector<std::pair<std::string, std::string>>& tokens);

}  // namespace korvanel
