#pragma once

// The INI text format of the Windows profile functions, on a file's bytes held in memory.
//
// Lines end in CR LF, LF or a lone CR. A line whose first non-blank byte is '[' and which holds a ']' starts
// a section named by what stands between them; ';' starts a comment; any other non-blank line is a key,
// "name=value" or a bare "name" (an empty value). Section and key names and values are trimmed of
// blanks, names match without regard to ASCII case, and the first matching section and key win.
// A value enclosed in a matching pair of double or single quotes is read without them.

#include <optional>
#include <string>
#include <string_view>

namespace kuvona::ini {

// The value of `key` in `section`, or nothing when the section or the key is missing.
std::optional<std::string> findValue(std::string_view content, std::string_view section,
                                     std::string_view key);

// True when the entry can be written so that it reads back as the same section and key: names that are
// not blank, no line break anywhere, no '=' in the key or ']' in the section name, a key that does
// not read as a section header or a comment, and no text ending in half a double-byte character.
bool storable(std::string_view section, std::string_view key, std::string_view value);

// `content` with `key` in `section` set to `value`, every other line kept byte for byte. An existing
// key line is replaced; a new key goes after the last non-blank line of its section; a new section
// goes to the end of the file. Lines written here end in CR LF. Nothing when the entry is not storable
// or would not read back under its section and key.
std::optional<std::string> withValue(std::string_view content, std::string_view section, std::string_view key,
                                     std::string_view value);

} // namespace kuvona::ini
