#pragma once

#include <string>

namespace korvanel {

// The program's folder with a trailing '/': KORVANEL_HOME when that is set,
// else the folder of the running executable.
std::string programFolder();

// Resolves a relative path against the program's folder (never the current
// directory); an absolute path stays as it is. A backslash counts as a
// folder separator. A result that names an existing folder ends in exactly
// one '/'.
std::string resolveProgramPath(const std::string& path);

}  // namespace korvanel
