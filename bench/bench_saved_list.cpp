// The commands of the saved list on a long list: each benchmark opens a main window on a store of
// N numbers and times one user action, list reload included. Message boxes are answered at once.
// Run with QT_QPA_PLATFORM=offscreen (set here when missing).

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include <benchmark/benchmark.h>

#include "app/globals.h"
#include "app/main_window.h"
#include "common/gbk.h"
#include "common/listview.h"
#include "platform/check_list_box.h"
#include "platform/message_box.h"
#include "platform/program_dir.h"
#include "platform/report_list_view.h"
#include "saved/number_windows.h"
#include "saved/saved_commands.h"
#include "saved/saved_list.h"
#include "saved/store.h"

using namespace kuvona;

namespace {

void putInt32(std::string& bytes, std::size_t offset, std::int32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + static_cast<std::size_t>(i)] =
            static_cast<char>(static_cast<std::uint32_t>(value) >> (8 * i));
}

// A program directory with a store of `count` numbers and a main window on it.
class SavedFixture
{
public:
    explicit SavedFixture(int count)
    {
        char pattern[] = "/tmp/kuvona-bench-saved-XXXXXX";
        m_dir = mkdtemp(pattern);
        setProgramDirectory(m_dir.string());
        seed(count);
        messageBoxSeam::clear();
        messageBoxSeam::setAutoAnswer(true);
        m_window = std::make_unique<MainWindow>();
        m_window->showCentred();
        QApplication::processEvents();
    }
    ~SavedFixture()
    {
        m_window.reset();
        closeStore();
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }

    void seed(int count)
    {
        std::string bytes(storeTemplate.begin(), storeTemplate.end());
        for (int i = 0; i < count; ++i) {
            std::string record(136, '\0');
            putInt32(record, 0, 34 + i);
            const std::string number = "YT" + std::to_string(1000000000 + i);
            record.replace(4, number.size(), number);
            record.replace(24, 4, gbk("圆通"));
            record.replace(36, 8, "remark-" + std::to_string(i % 10));
            bytes += record;
        }
        putInt32(bytes, 16, count);
        putInt32(bytes, 20, 34 + count);
        std::ofstream((m_dir / "Danhao.edb").string(), std::ios::binary | std::ios::trunc)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    ReportListView& list() { return *mainControls().savedList; }

private:
    std::filesystem::path m_dir;
    std::unique_ptr<MainWindow> m_window;
};

void BM_Reload(benchmark::State& state)
{
    SavedFixture f(static_cast<int>(state.range(0)));
    for (auto _ : state)
        reloadSavedList();
}

// The query's auto-save of a number the list does not hold: the whole list is searched, then the
// number is appended and the list reloaded.
void BM_AutoSaveNew(benchmark::State& state)
{
    SavedFixture f(static_cast<int>(state.range(0)));
    mainControls().carriers->setCurrentSelection(5);
    int n = 0;
    for (auto _ : state) {
        mainControls().number->setText(QStringLiteral("ZZ%1").arg(n++));
        autoSaveNumber();
    }
}

// A number already saved near the end: the search alone.
void BM_AutoSaveKnown(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    SavedFixture f(count);
    mainControls().number->setText(QStringLiteral("YT%1").arg(1000000000 + count - 1));
    for (auto _ : state)
        autoSaveNumber();
}

void BM_Add(benchmark::State& state)
{
    SavedFixture f(static_cast<int>(state.range(0)));
    AddNumberWindow window(mainControls().window);
    int n = 0;
    for (auto _ : state) {
        window.numberEdit()->setText(QStringLiteral("AD%1").arg(n++));
        window.addSavedNumber();
    }
}

// Deleting the first number, which moves every later record up.
void BM_DeleteFirst(benchmark::State& state)
{
    SavedFixture f(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        listSetCurrentSelection(f.list(), 0);
        deleteSavedNumber();
    }
}

// Opening the edit window on the last number and saving it.
void BM_Edit(benchmark::State& state)
{
    SavedFixture f(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        editRecordNo = listRowCount(f.list());
        EditNumberWindow window(mainControls().window);
        window.remarkEdit()->setPlainText(QStringLiteral("edited"));
        window.saveEditedNumber();
    }
}

void BM_DeleteAll(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    SavedFixture f(count);
    for (auto _ : state) {
        state.PauseTiming();
        f.seed(count);
        reloadSavedList();
        state.ResumeTiming();
        deleteAllSavedNumbers();
    }
}

void BM_Click(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    SavedFixture f(count);
    listSetCurrentSelection(f.list(), count - 1);
    for (auto _ : state)
        onSavedListClick();
}

} // namespace

BENCHMARK(BM_Reload)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AutoSaveNew)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_AutoSaveKnown)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Add)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_DeleteFirst)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_Edit)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_DeleteAll)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_Click)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
