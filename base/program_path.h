#pragma once

#include <string>

namespace korvanel {

// The program's folder with a trailing '/', where its settings, station
// lists and languages live: KORVANEL_HOME when that is set; else the
// executable's folder when that is a portable copy (it holds a writable
// korvanel.xml, or it is writable and not an installed program's bin/);
// else the user's own folder, $XDG_CONFIG_HOME/korvanel/ (by default
// ~/.config/korvanel/), so an installed program never writes beside itself.
std::string programFolder();

// Whether programFolder() is the user's own folder of an installed or
// read-only program.
bool programFolderIsPersonal();

// What an installed program ships (<prefix>/share/korvanel/, beside the
// executable's bin/), with a trailing '/'; empty for any other layout.
std::string installedDataFolder();

// Makes the user's own program folder when programFolder() is one, and
// copies the shipped station lists and languages into it where they are
// missing; what the user has is never replaced. False when the folder
// could not be made.
bool preparePersonalFolder();

// The user's music folder with a trailing '/': $XDG_MUSIC_DIR, else ~/Music.
std::string musicFolder();

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
