#pragma once

// Text and number operations on GBK byte strings.
//
// Every text in the program is a GBK byte string held in std::string; its length is its byte count
// and positions are 1-based byte positions, -1 meaning "not found". These rules are shared with the
// saved-number file and with the tracking service's answers, so they must not drift.

#include <cstdint>
#include <string>
#include <string_view>

namespace kuvona {

// First occurrence of `sought` beginning at or after `start` (1-based). A start of 1 or less searches
// from the beginning, one beyond the length finds nothing. An empty `sought` gives 1 when the searched
// part is not empty. With `ignoreCase` only ASCII letters are folded. The scan steps over double-byte
// characters as units, counted from `start`, so no match begins on a trail byte.
int findText(std::string_view text, std::string_view sought, int start = 1, bool ignoreCase = false);

std::string textLeft(std::string_view text, int n);
std::string textRight(std::string_view text, int n);
int textLength(std::string_view text);

// Removes ASCII spaces and GBK full-width spaces (A1 A1) at both ends; tabs and line breaks stay.
// A lone lead byte at the very end is dropped.
std::string trimBlanks(std::string_view text);

// The bytes up to the first zero byte, or all of them.
std::string bytesToText(std::string_view bytes);

std::string integerToText(std::int32_t value);

// C library atof rules after full-width characters are replaced by their half-width twins.
double textToNumber(std::string_view text);
// C library strtol rules (base 10), same replacement, clamped to the 32-bit range.
std::int32_t textToInteger(std::string_view text);
// printf "%.13g", always with "." as the decimal point.
std::string numberToText(double value);

// Replaces every GBK full-width character that has a half-width twin by that twin.
std::string halfWidth(std::string_view text);

// ASCII-only case-insensitive byte comparison, stepping over double-byte characters unchanged.
bool equalIgnoringAsciiCase(std::string_view a, std::string_view b);

} // namespace kuvona
