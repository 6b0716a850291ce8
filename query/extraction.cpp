#include "query/extraction.h"

#include <algorithm>

#include "common/gbk.h"
#include "common/text.h"

namespace kuvona {
namespace {

std::string replacePlaceholder(std::string_view marker)
{
    static const std::string placeholder = gbk("#引号");
    std::string out;
    out.reserve(marker.size());
    for (std::size_t from = 0;;) {
        const std::size_t at = marker.find(placeholder, from);
        out.append(marker.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
        if (at == std::string_view::npos)
            return out;
        out.push_back('"');
        from = at + placeholder.size();
    }
}

} // namespace

int countMarker(std::string_view text, std::string_view marker, bool caseSensitive)
{
    // findText answers 1 for an empty sought text at any start, which would never let the count end.
    if (marker.empty())
        return 0;
    const bool ignoreCase = !caseSensitive;
    int p = findText(text, marker, 1, ignoreCase);
    if (p == -1)
        return 0;
    int count = 1;
    for (;;) {
        // The second try from p + 2 matters only for markers that may begin on a trail byte: a scan
        // counted from p + 1 can be out of step with the double-byte characters.
        int next = findText(text, marker, p + 1, ignoreCase);
        if (next == -1)
            next = findText(text, marker, p + 2, ignoreCase);
        if (next == -1)
            return count;
        ++count;
        p = next;
    }
}

std::string textBetween(std::string_view text, std::string_view startMarker, std::string_view endMarker)
{
    const std::string start = replacePlaceholder(startMarker);
    const std::string end = replacePlaceholder(endMarker);
    const int at = findText(text, start, 1, true);
    if (at == -1)
        return {};
    const std::string_view rest = text.substr(static_cast<std::size_t>(at - 1) + start.size());
    const int endAt = findText(rest, end, 1, true);
    if (endAt == -1)
        return {};
    return std::string(rest.substr(0, static_cast<std::size_t>(endAt - 1)));
}

std::string removeFirstCell(std::string_view text, std::string_view startMarker, std::string_view endMarker)
{
    const int a = findText(text, startMarker, 1, true);
    if (a == -1)
        return {};
    const int b = findText(text, endMarker, a, true);
    const auto before = static_cast<std::size_t>(a - 1);
    // An unterminated cell runs to the end of the answer. (b < a only happens for an empty end marker,
    // which findText reports at position 1.)
    if (b == -1 || b < a)
        return std::string(text.substr(0, before));
    const std::size_t after = static_cast<std::size_t>(b - 1) + endMarker.size();
    std::string out;
    out.reserve(before + (after < text.size() ? text.size() - after : 0));
    out.append(text.substr(0, before));
    if (after < text.size())
        out.append(text.substr(after));
    return out;
}

int resultRowCount(std::string_view answer)
{
    return countMarker(answer, cellEndMarker, false) / 2;
}

ResultRow takeRow(std::string& answer)
{
    ResultRow row;
    row.time = textBetween(answer, cellStartMarker, cellEndMarker);
    answer = removeFirstCell(answer, cellStartMarker, cellEndMarker);
    row.progress = textBetween(answer, cellStartMarker, cellEndMarker);
    answer = removeFirstCell(answer, cellStartMarker, cellEndMarker);
    return row;
}

ResultCells::ResultCells(std::string answer)
    : m_answer(std::move(answer)), m_rowCount(resultRowCount(m_answer))
{}

std::string ResultCells::remainder() const
{
    return m_head + m_answer.substr(m_offset);
}

// textBetween() and removeFirstCell() with the cell markers, on the text m_head + tail, in one pass.
// Both begin with the same search for "<td>" from the beginning; that search is resumed from
// m_scanFrom here. The search for "</td>" that removeFirstCell() starts at the start marker reaches
// the byte after it in step (the four marker bytes are ASCII and none begins "</td>"), so it finds
// what textBetween() finds in the rest.
std::string ResultCells::nextCell()
{
    static_assert(cellStartMarker.size() == 4 && cellEndMarker.size() == 5);
    const std::string_view tail = std::string_view(m_answer).substr(m_offset);
    const std::size_t headSize = m_head.size();
    const std::size_t total = headSize + tail.size();
    const auto byteAt = [&](std::size_t i) {
        return static_cast<unsigned char>(i < headSize ? m_head[i] : tail[i - headSize]);
    };
    const auto startMarkerAt = [&](std::size_t i) {
        if (total - i < cellStartMarker.size())
            return false;
        for (std::size_t k = 0; k < cellStartMarker.size(); ++k) {
            unsigned char c = byteAt(i + k);
            if (c >= 'A' && c <= 'Z')
                c = static_cast<unsigned char>(c + 32);
            if (c != static_cast<unsigned char>(cellStartMarker[k]))
                return false;
        }
        return true;
    };

    // The positions tried, in order: the trail from earlier searches, then this one's.
    std::vector<std::size_t> tried = m_trail;
    bool found = false;
    std::size_t i = m_scanFrom;
    while (i < total) {
        tried.push_back(i);
        if (startMarkerAt(i)) {
            found = true;
            break;
        }
        if (byteAt(i) >= 0x80) {
            if (i + 1 >= total)
                break; // a lead byte cut off by the end
            i += 2;
        } else {
            i += 1;
        }
        if (tried.size() > 16) // only the last few matter; keep the list short
            tried.erase(tried.begin(), tried.end() - 8);
    }
    if (!found) {
        m_head.clear();
        m_offset = m_answer.size();
        m_scanFrom = 0;
        m_trail.clear();
        return {};
    }

    const std::size_t start = i;
    const std::size_t restInTail = start + cellStartMarker.size() - headSize; // the rest lies in the tail
    const std::string_view rest = tail.substr(restInTail);
    const int endAt = findText(rest, cellEndMarker, 1, true);
    std::string cell =
        endAt == -1 ? std::string() : std::string(rest.substr(0, static_cast<std::size_t>(endAt - 1)));

    // Left: the text before the start marker, then what follows the end marker (nothing without one).
    if (start <= headSize)
        m_head.resize(start);
    else
        m_head.append(tail.substr(0, start - headSize));
    m_offset = endAt == -1
                   ? m_answer.size()
                   : m_offset + restInTail + static_cast<std::size_t>(endAt - 1) + cellEndMarker.size();

    // A tried position whose four bytes all lie before `start` stays tried; later ones must be tried
    // again, as the text after them has changed.
    std::size_t firstAgain = 0;
    while (tried[firstAgain] + cellStartMarker.size() <= start)
        ++firstAgain;
    if (firstAgain == 0 && tried.front() != 0) {
        // Cells that each joined the bytes around them into a new marker have walked the search back
        // past the remembered positions. The search from the beginning is sure to try a position
        // right after an ASCII byte: it either tries that byte and steps by one, or steps over it from
        // the lead byte before it. Resuming at the nearest such position at or before the first one
        // that must be tried again finds what a search from the beginning finds, without going over
        // the whole text again. The bytes before `start` are the same before and after the cut.
        std::size_t from = start >= cellStartMarker.size() - 1 ? start - (cellStartMarker.size() - 1) : 0;
        while (from > 0 && byteAt(from - 1) >= 0x80)
            --from;
        m_scanFrom = from;
        m_trail.clear();
        return cell;
    }
    m_scanFrom = tried[firstAgain];
    const std::size_t keep = std::min<std::size_t>(firstAgain, 8);
    m_trail.assign(tried.begin() + static_cast<std::ptrdiff_t>(firstAgain - keep),
                   tried.begin() + static_cast<std::ptrdiff_t>(firstAgain));
    return cell;
}

ResultRow ResultCells::nextRow()
{
    ResultRow row;
    row.time = nextCell();
    row.progress = nextCell();
    return row;
}

} // namespace kuvona
