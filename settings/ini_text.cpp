#include "settings/ini_text.h"

#include <algorithm>
#include <vector>

#include "common/text.h"

namespace kuvona::ini {
namespace {

bool isBlank(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// The first `c` (an ASCII byte) that is a character of its own, not the trail byte of a double-byte
// character: GBK trail bytes include ']' and '['.
std::size_t findChar(std::string_view s, char c)
{
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == c)
            return i;
        if (static_cast<unsigned char>(s[i]) >= 0x80)
            ++i;
    }
    return std::string_view::npos;
}

// A text whose last byte is the lead byte of a double-byte character without its trail byte: written
// out, that lead byte would pair with the "]", "=" or line end after it.
bool endsInLoneLeadByte(std::string_view s)
{
    std::size_t i = 0;
    while (i < s.size())
        i += static_cast<unsigned char>(s[i]) >= 0x80 ? 2 : 1;
    return i > s.size();
}

enum class LineKind
{
    Blank,
    Comment,
    Section,
    Key,
};

struct Line
{
    std::size_t begin = 0; // first byte of the line
    std::size_t end = 0;   // one past the last byte before the line end
    std::size_t next = 0;  // one past the line end (== end for a last line without one)
    LineKind kind = LineKind::Blank;
    std::string_view name;  // section or key name, trimmed
    std::string_view value; // key value, trimmed
};

Line classify(std::string_view content, std::size_t begin, std::size_t end, std::size_t next)
{
    Line line{begin, end, next, LineKind::Blank, {}, {}};
    const std::string_view text = trim(content.substr(begin, end - begin));
    if (text.empty())
        return line;
    if (text.front() == ';') {
        line.kind = LineKind::Comment;
        return line;
    }
    if (text.front() == '[') {
        const std::size_t close = findChar(text, ']');
        if (close != std::string_view::npos) {
            line.kind = LineKind::Section;
            line.name = trim(text.substr(1, close - 1));
            return line;
        }
    }
    line.kind = LineKind::Key;
    const std::size_t eq = findChar(text, '=');
    if (eq == std::string_view::npos) {
        line.name = text;
    } else {
        line.name = trim(text.substr(0, eq));
        line.value = trim(text.substr(eq + 1));
    }
    return line;
}

std::vector<Line> splitLines(std::string_view content)
{
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < content.size()) {
        const std::size_t end = std::min(content.find_first_of("\r\n", pos), content.size());
        std::size_t next = end;
        if (next < content.size())
            next += content.substr(next, 2) == "\r\n" ? 2 : 1;
        lines.push_back(classify(content, pos, end, next));
        pos = next;
    }
    return lines;
}

// Where a section starts and ends in the line list, and where its key is.
struct Location
{
    std::size_t header = npos;
    std::size_t key = npos;
    std::size_t lastFilled = npos; // the last non-blank line of the section (the header when empty)
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
};

Location locate(const std::vector<Line>& lines, std::string_view section, std::string_view key)
{
    Location at;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (at.header == Location::npos) {
            if (line.kind == LineKind::Section && equalIgnoringAsciiCase(line.name, section)) {
                at.header = i;
                at.lastFilled = i;
            }
            continue;
        }
        if (line.kind == LineKind::Section)
            break;
        if (line.kind != LineKind::Blank)
            at.lastFilled = i;
        if (line.kind == LineKind::Key && at.key == Location::npos && equalIgnoringAsciiCase(line.name, key))
            at.key = i;
    }
    return at;
}

std::string_view unquote(std::string_view value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

} // namespace

std::optional<std::string> findValue(std::string_view content, std::string_view section, std::string_view key)
{
    const std::vector<Line> lines = splitLines(content);
    const Location at = locate(lines, trim(section), trim(key));
    if (at.key == Location::npos)
        return std::nullopt;
    return std::string(unquote(lines[at.key].value));
}

bool storable(std::string_view section, std::string_view key, std::string_view value)
{
    const auto hasBreak = [](std::string_view s) {
        return s.find_first_of("\r\n") != std::string_view::npos;
    };
    section = trim(section);
    key = trim(key);
    if (section.empty() || key.empty() || hasBreak(section) || hasBreak(key) || hasBreak(value))
        return false;
    if (findChar(section, ']') != std::string_view::npos || findChar(key, '=') != std::string_view::npos)
        return false;
    if (endsInLoneLeadByte(section) || endsInLoneLeadByte(key) || endsInLoneLeadByte(value))
        return false;
    return key.front() != '[' && key.front() != ';';
}

namespace {

std::string withValueUnchecked(std::string_view content, std::string_view section, std::string_view key,
                               std::string_view value)
{
    std::string entry;
    entry.reserve(key.size() + value.size() + 3);
    entry.append(key).append("=").append(value).append("\r\n");

    const std::vector<Line> lines = splitLines(content);
    const Location at = locate(lines, section, key);
    std::string out;
    out.reserve(content.size() + entry.size() + section.size() + 4);
    if (at.key != Location::npos) {
        const Line& line = lines[at.key];
        out.append(content.substr(0, line.begin)).append(entry).append(content.substr(line.next));
        return out;
    }
    if (at.header != Location::npos) {
        const Line& after = lines[at.lastFilled];
        out.append(content.substr(0, after.next));
        if (after.next == after.end) // the file's last line, without a line end
            out.append("\r\n");
        out.append(entry).append(content.substr(after.next));
        return out;
    }
    out.append(content);
    if (!lines.empty() && lines.back().next == lines.back().end)
        out.append("\r\n");
    out.append("[").append(section).append("]\r\n").append(entry);
    return out;
}

} // namespace

std::optional<std::string> withValue(std::string_view content, std::string_view section, std::string_view key,
                                     std::string_view value)
{
    if (!storable(section, key, value))
        return std::nullopt;
    std::string out = withValueUnchecked(content, trim(section), trim(key), value);
    // Whatever the rules above miss, an entry that does not read back is refused, not written.
    if (findValue(out, section, key) != std::string(unquote(trim(value))))
        return std::nullopt;
    return out;
}

} // namespace kuvona::ini
