#pragma once

// A main window over a Danhao.edb of chosen records in a temporary program directory, for the tests
// of the saved list's commands that work through the window.

#include <QHeaderView>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/main_window.h"
#include "common/fatal.h"
#include "common/gbk.h"
#include "common/listview.h"
#include "platform/message_box.h"
#include "platform/program_dir.h"
#include "platform/report_list_view.h"
#include "saved/store.h"
#include "store_fixture.h"

namespace kuvona::test {

struct FatalError : std::runtime_error
{
    FatalError(int code, const std::string& message) : std::runtime_error(message), code(code) {}
    int code;
};

[[noreturn]] inline void throwFatal(int code, const std::string& message)
{
    throw FatalError(code, message);
}

struct SavedRecord
{
    std::string number, company, remark; // GBK
};

// The store file with `records` in this order and serials from 34.
inline std::string storeBytes(const std::vector<SavedRecord>& records, std::int32_t firstSerial = 34,
                              std::int32_t nextSerial = 0)
{
    std::string bytes = templateBytes();
    for (std::size_t i = 0; i < records.size(); ++i)
        bytes += makeRecord(firstSerial + static_cast<std::int32_t>(i), records[i].number, records[i].company,
                            records[i].remark);
    putInt32(bytes, 16, static_cast<std::int32_t>(records.size()));
    putInt32(bytes, 20, nextSerial ? nextSerial : firstSerial + static_cast<std::int32_t>(records.size()));
    return bytes;
}

// The store file with `records` in this order, record i carrying serials[i].
inline std::string storeBytes(const std::vector<SavedRecord>& records,
                              const std::vector<std::int32_t>& serials, std::int32_t nextSerial)
{
    std::string bytes = storeBytes(records, 34, nextSerial);
    for (std::size_t i = 0; i < records.size(); ++i)
        putInt32(bytes, 332 + 136 * i, serials[i]);
    return bytes;
}

// The records of a store file of the program's layout as "serial:number" in file order, blank
// separated ("34:A 36:C"), with "|company|remark" after each when `withTexts`. A file whose length
// does not match its count reads as "<torn>".
inline std::string recordList(const std::string& bytes, bool withTexts = false)
{
    if (bytes.size() < 332)
        return "<short>";
    const std::int32_t count = getInt32(bytes, 16);
    if (count < 0 || bytes.size() != 332 + std::size_t(count) * 136)
        return "<torn>";
    const auto text = [&](std::size_t at, std::size_t width) {
        const std::string field = bytes.substr(at, width);
        return field.substr(0, field.find('\0'));
    };
    std::string out;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::size_t at = 332 + std::size_t(i) * 136;
        out += (i ? " " : "") + std::to_string(getInt32(bytes, at)) + ":" + text(at + 4, 20);
        if (withTexts)
            out += "|" + text(at + 24, 12) + "|" + text(at + 36, 100);
    }
    return out;
}

inline std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A click on the middle of a column's header.
inline void clickHeader(ReportListView& list, int column)
{
    QHeaderView* header = list.horizontalHeader();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

// A left-button drag from row `from` over the rows up to `to`, through the window system;
// `meanwhile` runs while the button is held over `to`.
inline void dragRow(
    ReportListView& list, int from, int to, const std::function<void()>& meanwhile = [] {})
{
    QWindow* window = list.window()->windowHandle();
    const auto at = [&](int row) {
        return list.viewport()->mapTo(list.window(),
                                      list.visualRect(list.listModel()->index(row, 0)).center());
    };
    QTest::mousePress(window, Qt::LeftButton, {}, at(from));
    const int step = to > from ? 1 : -1;
    for (int row = from; row != to + step; row += step)
        QTest::mouseMove(window, at(row) + QPoint(row == from ? 3 : 0, 1));
    meanwhile();
    QTest::mouseRelease(window, Qt::LeftButton, {}, at(to) + QPoint(0, 1));
}

class SavedWindow
{
public:
    explicit SavedWindow(const std::vector<SavedRecord>& records)
    {
        setProgramDirectory(m_dir.path().toStdString());
        writeBytes(storePath(), storeBytes(records));
        messageBoxSeam::clear();
        messageBoxSeam::setAutoAnswer(true);
        m_window = std::make_unique<MainWindow>();
        m_window->showCentred();
    }
    ~SavedWindow()
    {
        closeStore();
        m_window.reset();
    }

    bool ready() const { return m_dir.isValid() && QTest::qWaitForWindowExposed(m_window.get()); }
    std::string storePath() const { return m_dir.filePath("Danhao.edb").toStdString(); }
    MainWindow& window() const { return *m_window; }
    ReportListView& list() const { return *mainControls().savedList; }

    // The texts of one column, top row first, joined by blanks (GBK).
    std::string column(int c) const
    {
        std::string joined;
        for (int r = 0; r < listRowCount(list()); ++r)
            joined += (r ? " " : "") + listCellText(list(), r, c);
        return joined;
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<MainWindow> m_window;
};

} // namespace kuvona::test
