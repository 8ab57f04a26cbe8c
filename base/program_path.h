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

// A path chosen in a file dialog, as the settings keep it: relative to the
// program's folder when it lies inside it (so the folder can move), else as
// it is. A path that climbs out with ".." is never shortened.
std::string programRelativePath(const std::string& path);

}  // namespace korvanel
