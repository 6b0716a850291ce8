#pragma once

// State shared by the commands of every window, and the ways the program ends.
//
// All of it lives on the user-interface thread: workers receive copies of what they need when
// they start and never read these.

#include <cstdint>
#include <string>

#include "platform/worker.h"

class QAction;
class QLineEdit;
class QPushButton;
class QWidget;

namespace kuvona {

class CheckListBox;
class ReportListView;

// GBK texts; empty until MainWindow has been created.
extern std::string appVersion;
extern std::string captionSuffix;
// The courier code of the latest query, handed to its worker when it starts.
extern std::string carrierCode;
// The courier name the saved list's click step keeps.
extern std::string clickedCarrierName;
// The record the edit window works on.
extern std::int32_t editRecordNo;
// The worker started last (query or update check); 0 = none.
extern WorkerId workerThread;

// The controls of MainWindow that commands outside the window read and write. Null members until
// the window exists.
struct MainControls
{
    QWidget* window = nullptr;
    QLineEdit* number = nullptr;            // 单号
    CheckListBox* carriers = nullptr;       // 选择列表框1
    QPushButton* queryButton = nullptr;     // 快递查询
    QPushButton* stopButton = nullptr;      // 停止按钮
    ReportListView* progressList = nullptr; // 进度列表框
    ReportListView* savedList = nullptr;    // 超级列表框1
    QAction* autoSaveAction = nullptr;      // 自动保存单号
};
MainControls& mainControls();

// Stops the worker named by workerThread without waiting and releases it. Nothing happens when
// there is none or it has ended or been released already.
void endWorkerThread();

// Releases the shared texts; does its work once per process, later calls do nothing.
void releaseSharedTexts();
int releaseSharedTextsRuns();

// Ends the program in order with the exit code (-1 after a fatal error).
[[noreturn]] void exitProgram(int exitCode);

// Routes fatalRuntimeError to the error box followed by exitProgram(-1).
void installFatalHandler();

} // namespace kuvona
