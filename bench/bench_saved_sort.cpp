// The two user actions on the saved list whose cost grows with the number of saved numbers: a click
// on a column header (the list sorted, then the file's records sorted the same way and written in one
// replacement, the list reloaded) and the drop at the end of a drag (the row moved across the whole
// list, its record moved in the file in one replacement, the list reloaded).
// Each is measured with the main window over a Danhao.edb of 1,000 and 10,000 numbers.

#include <QApplication>
#include <QTemporaryDir>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include <benchmark/benchmark.h>

#include "app/globals.h"
#include "app/main_window.h"
#include "common/listview.h"
#include "platform/message_box.h"
#include "platform/program_dir.h"
#include "platform/report_list_view.h"
#include "saved/drag.h"
#include "saved/saved_list.h"
#include "saved/sort.h"
#include "saved/store.h"
#include "tests/saved/store_fixture.h"

namespace {

// Numbers of random letters and digits in random order, so that each sort has work to do.
std::string storeOf(int count)
{
    std::mt19937 random(static_cast<unsigned>(count));
    const char alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::string bytes = kuvona::test::templateBytes();
    for (int i = 0; i < count; ++i) {
        std::string number;
        for (int k = 0; k < 12; ++k)
            number += alphabet[random() % (sizeof alphabet - 1)];
        bytes += kuvona::test::makeRecord(34 + i, number, kuvona::gbk("圆通"), "remark " + std::to_string(i));
    }
    kuvona::test::putInt32(bytes, 16, count);
    kuvona::test::putInt32(bytes, 20, 34 + count);
    return bytes;
}

struct Window
{
    explicit Window(int count)
    {
        kuvona::setProgramDirectory(dir.path().toStdString());
        std::ofstream(dir.filePath("Danhao.edb").toStdString(), std::ios::binary) << storeOf(count);
        window = std::make_unique<kuvona::MainWindow>();
        window->showCentred();
        QApplication::processEvents();
    }
    kuvona::ReportListView& list() { return *kuvona::mainControls().savedList; }

    QTemporaryDir dir;
    std::unique_ptr<kuvona::MainWindow> window;
};

void headerClickSort(benchmark::State& state)
{
    Window w(static_cast<int>(state.range(0)));
    int column = 0;
    for (auto _ : state) {
        kuvona::onSavedListColumnClick(column);
        column = (column + 1) % 3;
        QApplication::processEvents(); // the repaint the user waits for
    }
    state.SetLabel(std::to_string(kuvona::listRowCount(w.list())) + " rows");
}
BENCHMARK(headerClickSort)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// The sort alone, without the store rewrite, to show where a click's time goes.
void sortOnly(benchmark::State& state)
{
    Window w(static_cast<int>(state.range(0)));
    for (auto _ : state)
        kuvona::sortListByColumn(w.list(), 0, 1, false);
}
BENCHMARK(sortOnly)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Drag the last row onto the first: every row shifts by one, one copy each.
void dragDrop(benchmark::State& state)
{
    Window w(static_cast<int>(state.range(0)));
    const int rows = kuvona::listRowCount(w.list());
    for (auto _ : state) {
        kuvona::dragState() = kuvona::DragState{1, rows - 1};
        kuvona::onSavedListLeftButtonUp(0, 0, 0);
        QApplication::processEvents();
    }
    state.SetLabel(std::to_string(kuvona::listRowCount(w.list())) + " rows");
}
BENCHMARK(dragDrop)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// The row move alone, without the store rewrite and the reload.
void moveOnly(benchmark::State& state)
{
    Window w(static_cast<int>(state.range(0)));
    const int rows = kuvona::listRowCount(w.list());
    for (auto _ : state) {
        kuvona::dragState() = kuvona::DragState{1, rows - 1};
        kuvona::moveSavedRow(false);
    }
}
BENCHMARK(moveOnly)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// The reload that ends a drop, for the share of the store's reads in it.
void reloadOnly(benchmark::State& state)
{
    Window w(static_cast<int>(state.range(0)));
    for (auto _ : state)
        kuvona::reloadSavedList();
}
BENCHMARK(reloadOnly)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->MinTime(1.0);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    kuvona::messageBoxSeam::setAutoAnswer(true);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    kuvona::closeStore();
    return 0;
}
