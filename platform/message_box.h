#pragma once

// Message boxes with the program's kinds and answers, and a seam for tests.
//
// Kinds: 0 OK without icon; 16 error icon, OK; 48 warning, OK; 49 warning, OK and Cancel;
// 64 information, OK; 65 information, OK and Cancel. The answer is 0 for OK and 1 for Cancel, Esc or
// the close box. Without a title the title is "信息：". Texts are GBK.
//
// On the user-interface thread the box is application-modal. Asked for by a worker, it is shown by
// the user-interface thread as a window that blocks nothing, while the worker waits for the answer;
// stopping the worker takes the box away (and the worker unwinds with WorkerStopped).

#include <string>
#include <vector>

class QMessageBox;

namespace kuvona {

enum MessageBoxKind : int
{
    BoxOk = 0,
    BoxErrorOk = 16,
    BoxWarningOk = 48,
    BoxWarningOkCancel = 49,
    BoxInfoOk = 64,
    BoxInfoOkCancel = 65,
};

int messageBox(const std::string& text, const std::string& title = {}, int kind = BoxOk);

// The box messageBox() would show, not yet shown (for rendering it to a picture). The caller owns it.
QMessageBox* createMessageBoxWidget(const std::string& text, const std::string& title = {}, int kind = BoxOk);

// The test seam. Every box asked for is recorded. While answers are queued, or while auto-answer is
// on, a box is not shown: it takes the next queued answer, or 0 when none is left.
// In a child process the environment does the same: KUVONA_MSGBOX_LOG=file turns auto-answer on
// and appends each box to the file as one line "kind<TAB>title<TAB>text" (UTF-8, with CR and LF in
// texts written as \r and \n); KUVONA_MSGBOX_ANSWERS=0,1,... queues answers.
namespace messageBoxSeam {

struct Shown
{
    std::string text;  // GBK
    std::string title; // GBK, after the default title has been applied
    int kind = 0;
};

void queueAnswer(int answer);
void setAutoAnswer(bool on);
std::vector<Shown> shown();
void clear(); // forgets the recorded boxes and the queued answers, turns auto-answer off

} // namespace messageBoxSeam

} // namespace kuvona
