#pragma once

// Taking the tracking service's answer apart into progress rows.
//
// The answer is an HTML fragment whose table cells come in pairs (time, progress text). It is not
// parsed as HTML: cells are counted and cut by the literal markers "<td>" and "</td>", found with
// findText ignoring ASCII case, so "<TD>" counts and "<td class=x>" does not. Cell texts are kept
// unchanged. These rules decide what the user sees, so the exact cutting behaviour matters more than
// HTML correctness.

#include <string>
#include <string_view>
#include <vector>

namespace kuvona {

inline constexpr std::string_view cellStartMarker = "<td>";
inline constexpr std::string_view cellEndMarker = "</td>";

// Number of occurrences of `marker` that findText can see, found one after another. An empty marker
// counts 0.
int countMarker(std::string_view text, std::string_view marker, bool caseSensitive);

// The text between the first start marker and the first end marker after it (ASCII case ignored),
// or the empty text when either is missing. The placeholder "#引号" in a marker stands for '"'.
std::string textBetween(std::string_view text, std::string_view startMarker, std::string_view endMarker);

// The text without its first span from a start marker to the first end marker after it (ASCII case
// ignored). Without a start marker nothing is left: the empty text. A start marker that no end marker
// follows opens a cell running to the end, so only the text before it is left. The result is never
// longer than `text`.
std::string removeFirstCell(std::string_view text, std::string_view startMarker, std::string_view endMarker);

// The number of rows the answer makes: the "</td>" count halved, an odd last cell dropped.
int resultRowCount(std::string_view answer);

struct ResultRow
{
    std::string time;
    std::string progress;
};

// Takes the next two cells off the front of `answer`, as textBetween and removeFirstCell do.
ResultRow takeRow(std::string& answer);

// The cells of one answer, handed out row by row so that a worker can fill the list between pauses
// without touching a widget here. rowCount() is fixed when the answer is taken in; nextRow() may be
// called any number of times and gives empty cells once the answer is used up.
//
// The cells are exactly those of takeRow() on the same answer, but a row costs time in proportion to
// its own cells and the text between them rather than to the whole answer: cutting a cell does not
// copy what follows it, and the text before the cells is not searched again.
class ResultCells
{
public:
    explicit ResultCells(std::string answer);

    int rowCount() const { return m_rowCount; }
    ResultRow nextRow();
    std::string nextCell();

    // What is left of the answer after the cells taken so far, as removeFirstCell() would leave it.
    std::string remainder() const;

private:
    // The text left is m_head followed by m_answer from m_offset on. m_head holds the bytes that stood
    // before the cells taken so far; removeFirstCell() keeps them.
    std::string m_answer;
    std::string m_head;
    std::size_t m_offset = 0;
    // The search for the next start marker resumes at m_scanFrom, a position the search from the
    // beginning would reach, in step with the double-byte characters; everything before it is known
    // to hold no start marker. m_trail keeps the last few positions that search tried before
    // m_scanFrom, because a cell cut right after them can join their bytes into a new marker.
    std::size_t m_scanFrom = 0;
    std::vector<std::size_t> m_trail;
    int m_rowCount = 0;
};

} // namespace kuvona
