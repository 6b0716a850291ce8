#pragma once

// Reading and writing single values of an INI file, as the Windows profile functions do
// (GetPrivateProfileStringA / WritePrivateProfileStringA), so that set.ini files move between the
// two systems unchanged. All texts are GBK bytes; the format itself is in settings/ini_text.h.

#include <cstddef>
#include <string>

namespace kuvona {

// The longest value readIniValue returns, in bytes (the profile functions' 10240-byte buffer).
inline constexpr std::size_t iniValueLimit = 10239;

// The largest file that is read or rewritten, in bytes; 24 keys take well under 1 KiB. A larger file,
// and anything but a regular file (a FIFO, a device, a directory), counts as unreadable: reading
// gives the default and writing fails without touching it.
inline constexpr std::size_t iniFileLimit = 1 << 20;

// The value of `key` in `section` of `fileName`, or `defaultValue` (without its trailing blanks) when
// the file, the section or the key is missing. Leading bytes of 0x20 or below are skipped in the
// three names; when one of them is then empty the result is empty and the file is not opened.
// A value longer than iniValueLimit is cut there, never inside a double-byte character.
std::string readIniValue(const std::string& fileName, const std::string& section, const std::string& key,
                         const std::string& defaultValue = {});

// Sets `key` in `section` of `fileName` to `value`, creating the file, the section or the key as
// needed and keeping every other line byte for byte; new lines end in CR LF. The file is replaced as
// a whole through a temporary file, so a failed write leaves the old one intact. False when the file
// cannot be read or written, or when the entry would not read back as written (see ini::storable).
bool writeIniValue(const std::string& fileName, const std::string& section, const std::string& key,
                   const std::string& value);

} // namespace kuvona
