#include "query/query_command.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>

#include "app/globals.h"
#include "common/gbk.h"
#include "common/listview.h"
#include "common/text.h"
#include "platform/cancel.h"
#include "platform/check_list_box.h"
#include "platform/message_box.h"
#include "platform/report_list_view.h"
#include "platform/ui_text.h"
#include "platform/worker.h"
#include "query/answer.h"
#include "query/carrier_table.h"
#include "query/extraction.h"
#include "query/http_get.h"
#include "query/query_url.h"

namespace kuvona {
namespace {

std::function<void()>& autoSaveStep()
{
    static std::function<void()> step;
    return step;
}

void enableQueryButton()
{
    if (auto* button = mainControls().queryButton)
        button->setEnabled(true);
}

// The worker's view of the controls: each call is one access carried out by the user-interface
// thread while the worker waits. The window may be gone by then; an access to it does nothing.
std::string readNumberOnUi()
{
    std::string number;
    runOnUiThread([&number] {
        if (auto* edit = mainControls().number)
            number = fromQString(edit->text());
    });
    return number;
}

template <typename F> void onProgressList(F&& op)
{
    runOnUiThread([&op] {
        if (auto* list = mainControls().progressList)
            op(*list);
    });
}

void fillProgressList(std::string answer)
{
    ResultCells cells(std::move(answer));
    const int rows = cells.rowCount();
    for (int i = 1; i <= rows; ++i) {
        // The texts are converted here, off the user-interface thread: a cell of a hostile answer
        // can hold megabytes.
        const QString time = toQString(cells.nextCell());
        const QString progress = toQString(cells.nextCell());
        // The row's accesses (append, then its three cells) run in order as one hand-over: each
        // hand-over waits for the user-interface thread, and one per row keeps the rows' rhythm
        // close to the pause even when that thread is busy.
        onProgressList([i, &time, &progress](ReportListView& list) {
            ReportListModel& model = *list.listModel();
            const int row = model.appendRow({});
            model.setCell(row, 0, toQString(integerToText(i)));
            model.setCell(row, 1, time);
            model.setCell(row, 2, progress);
        });
        if (!sleepUnlessCancelled(kRowPauseMs))
            throw WorkerStopped{};
    }
}

} // namespace

const Carrier* firstTickedCarrier()
{
    auto* carriers = mainControls().carriers;
    if (!carriers)
        return nullptr;
    for (int i = 0; i < carrierCount; ++i)
        if (carriers->isChecked(i))
            return carrierByIndex(i);
    return nullptr;
}

bool selectCarrierByName(const std::string& gbkName)
{
    auto* carriers = mainControls().carriers;
    const Carrier* carrier = carrierByName(gbkName);
    if (!carriers || !carrier)
        return false;
    // 24 positions, as many as the courier settings know; those the list lacks are skipped.
    for (int i = 0; i < 24; ++i)
        carriers->setChecked(i, false);
    carriers->setChecked(carrier->index, true);
    carriers->setCurrentSelection(carrier->index);
    return true;
}

void setAutoSaveStep(std::function<void()> step)
{
    autoSaveStep() = std::move(step);
}

void startQuery()
{
    MainControls& c = mainControls();
    if (!c.queryButton || !c.number || !c.carriers)
        return;
    c.queryButton->setEnabled(false);
    const std::string number = fromQString(c.number->text());
    if (number.empty()) {
        messageBox(gbk("请输入欲查询的快递单号！"), gbk("提示"), BoxOk);
        enableQueryButton();
        return;
    }
    c.number->setText(toQString(trimBlanks(number)));
    if (c.carriers->currentSelection() < 0) {
        messageBox(gbk("请选择欲查询的快递公司！"), gbk("提示"), BoxOk);
        enableQueryButton();
        return;
    }
    if (c.autoSaveAction && c.autoSaveAction->isChecked() && autoSaveStep())
        autoSaveStep()();
    const Carrier* carrier = firstTickedCarrier();
    if (!carrier) {
        enableQueryButton();
        return;
    }
    c.queryButton->setDefault(true);
    carrierCode = carrier->code;
    workerThread = startWorker([code = carrierCode] { queryWorker(code); });
}

void startQueryFromMenu()
{
    if (auto* button = mainControls().queryButton)
        button->setDefault(true);
    startQuery();
}

void stopQuery()
{
    enableQueryButton();
    endWorkerThread();
}

void queryWorker(const std::string& code)
{
    onProgressList([](ReportListView& list) { listRemoveAllRows(list); });
    if (isMissingNumber(readNumberOnUi())) {
        messageBox(gbk("请输入运单号码！"), gbk("温馨提示"), BoxOk);
    } else {
        const std::string number = readNumberOnUi();
        std::string answer = answerText(httpGetBytes(buildQueryUrl(code, number)));
        if (cancellationRequested())
            throw WorkerStopped{};
        switch (classifyAnswer(answer)) {
        case AnswerKind::NumberNotFound:
            messageBox(gbk("你输入的运单号码不存在！"), gbk("温馨提示"), BoxOk);
            break;
        case AnswerKind::CarrierUnsupported:
            messageBox(gbk("你选择的物流公司已经不支持！"), gbk("温馨提示"), BoxOk);
            break;
        case AnswerKind::ResultTable:
            fillProgressList(std::move(answer));
            break;
        }
    }
    runOnUiThread(enableQueryButton);
}

} // namespace kuvona
