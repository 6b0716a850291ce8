// The answer extraction on arbitrary bytes: a hostile or broken service decides these inputs.
//
// Checks that the row count is half the end-marker count, that no remainder or cell ever grows beyond
// its input, and that the three ways of taking rows agree. The first two bytes also pick markers from
// the input to drive the single operations with markers other than the cell markers.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "query/extraction.h"

using namespace kuvona;

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

void rowsOf(const std::string& answer)
{
    const int rows = resultRowCount(answer);
    check(rows == countMarker(answer, cellEndMarker, false) / 2);
    check(rows >= 0 && static_cast<std::size_t>(rows) <= answer.size() / cellEndMarker.size() / 2);

    ResultCells cells(answer);
    check(cells.rowCount() == rows);
    std::string consumed = answer;
    for (int i = 0; i < rows; ++i) {
        const std::size_t before = cells.remainder().size();
        const ResultRow row = cells.nextRow();
        check(cells.remainder().size() <= before);
        check(row.time.size() + row.progress.size() <= before);
        const ResultRow same = takeRow(consumed);
        check(same.time == row.time && same.progress == row.progress);
        check(consumed == cells.remainder());
    }
}

void singleOperations(std::string_view data)
{
    if (data.size() < 2)
        return;
    const std::size_t startLength = static_cast<unsigned char>(data[0]) % 7;
    const std::size_t endLength = static_cast<unsigned char>(data[1]) % 7;
    data.remove_prefix(2);
    if (data.size() < startLength + endLength)
        return;
    const std::string_view start = data.substr(0, startLength);
    const std::string_view end = data.substr(startLength, endLength);
    const std::string_view text = data.substr(startLength + endLength);

    check(removeFirstCell(text, start, end).size() <= text.size());
    check(textBetween(text, start, end).size() <= text.size());
    const int count = countMarker(text, start, false);
    check(count >= 0 && static_cast<std::size_t>(count) <= text.size());
    check(countMarker(text, end, true) >= 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    rowsOf(bytes);
    singleOperations(bytes);
    return 0;
}
