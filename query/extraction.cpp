#include "query/extraction.h"

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

std::string ResultCells::nextCell()
{
    std::string cell = textBetween(m_answer, cellStartMarker, cellEndMarker);
    m_answer = removeFirstCell(m_answer, cellStartMarker, cellEndMarker);
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
