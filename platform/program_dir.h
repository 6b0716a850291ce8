#pragma once

// The program's directory, where the executable lives, and the data directory, where it keeps
// Danhao.edb and set.ini.
//
// A copy run from a folder of its own (a portable copy, a build tree) keeps its files beside
// itself, the data directory being the program's directory. An installed program cannot: /usr/bin
// is not the user's, so its files live in $XDG_DATA_HOME/kuvona (default ~/.local/share/kuvona).

#include <string>

namespace kuvona {

// The directory of `executablePath`: the path cut at its last separator, never ending in one
// ("/opt/kuvona/kuvona" gives "/opt/kuvona"; "/kuvona" gives "", the root).
std::string directoryOf(const std::string& executablePath);

// Where a program's files go: `path` when one could be chosen (and made), else `error` says why.
struct DataDirectory
{
    std::string path;
    std::string error;
};

// True when a program in `dir` keeps its files beside itself: the user can write to `dir`, and it
// is not a folder programs are installed to (root can write to /usr/bin, yet a user's files do
// not belong there).
bool keepsFilesBesideProgram(const std::string& dir);

// The data directory of a program in `programDir`: `programDir` itself when `besideProgram`, else
// "kuvona" in the user's data folder: $XDG_DATA_HOME, or $HOME/.local/share when that is unset,
// empty or relative (a relative XDG_DATA_HOME is ignored, as the XDG base directory rules say).
// With `create` the folder and its parents are made (new ones mode 0700) when missing; without,
// nothing on disk is touched.
DataDirectory locateDataDirectory(const std::string& programDir, bool besideProgram, bool create);

// Determined once by initProgramDirectory() from the running executable (/proc/self/exe). Empty
// before.
const std::string& programDirectory();
const std::string& dataDirectory();

// Finds the program's directory and chooses the data directory. With `create` (the program's
// start) it also makes the data directory and makes it the working directory; without (the
// command-line tools) nothing on disk changes. False with `error` set when either cannot be found
// or the data directory cannot be made.
bool initProgramDirectory(bool create, std::string& error);

// Sets both directories without looking at the executable or changing the working directory; for
// tests, which keep their files in a temporary directory.
void setProgramDirectory(const std::string& dir);

// dataDirectory() + "/" + fileName: the path of one of the program's files.
std::string programFile(const std::string& fileName);

} // namespace kuvona
