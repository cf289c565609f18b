#pragma once
// Where the host finds the script libraries: everything is relative to the directory the
// host library itself was loaded from, so a copied installation works as it stands.

#include <string>
#include <vector>

namespace WexelHost {

// Directory of the host library (the installation's EXE directory), no trailing "/".
const std::string& HostDir();
// HostDir() + "/../USER" and "/../SYSTEM", concatenated like every other installation path.
const std::string& UserDir();
const std::string& SystemDir();

// Whether the file name matches the mask: "*" any run of characters, "?" one character,
// everything else itself (case-sensitive, like the file system).
bool MatchesMask(const std::string& name, const std::string& mask);

// The regular files that match a mask such as "*.qlx", "sub/*.qlx" or "/abs/dir/T?.qlx",
// sorted by name. A relative mask starts in baseDir; the directory part takes no wildcards.
// Raises EHostError when the directory does not exist.
std::vector<std::string> ListLibraries(const std::string& mask, const std::string& baseDir);

// Finds a library by name on the scripts' search path: SYSTEM, then USER, each first as
// given and then with ".qlx" added; an absolute path is only tried with and without ".qlx".
// Returns the empty string when nothing is found.
std::string FindLibrary(const std::string& name);

} // namespace WexelHost
