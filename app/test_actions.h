#pragma once

// Drives a running program from its environment, so tests can use the real executable as a
// child process: KUVONA_TEST_ACTIONS="type:1234;click:快递查询;wait:200;close".
//
// Actions, run in order on the user-interface thread once the main window is shown:
//   close              close the main window as its close box does
//   trigger:NAME       trigger the action with that object name (hidden ones included)
//   click:NAME         click the button with that object name
//   type:TEXT          replace the text of 单号 (UTF-8)
//   tick:INDEX         tick courier INDEX and make it the current one
//   wait:MS            let the event loop run for MS milliseconds
//   rows:N             let the event loop run until 进度列表框 shows N rows (at most 20 s)
// Unknown actions are ignored. Without the variable nothing happens.

class QWidget;

namespace kuvona {

void runTestActionsFromEnvironment(QWidget* mainWindow);

} // namespace kuvona
