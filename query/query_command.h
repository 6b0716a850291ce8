#pragma once

// The user's side of a tracking query and the worker that carries it.

#include <functional>
#include <string>

namespace kuvona {

struct Carrier;

// The lowest-indexed ticked courier of 选择列表框1, or null; the highlighted item plays no part.
const Carrier* firstTickedCarrier();
// Ticks and highlights the courier named `gbkName` (byte for byte) after unticking every other;
// changes nothing and returns false when no courier has that name.
bool selectCarrierByName(const std::string& gbkName);

// The click of 快递查询: checks the input, lets the auto-save step run, starts the worker.
void startQuery();
// The menu form "查询(&C)": makes 快递查询 the default button, then runs startQuery (also while
// the button is disabled).
void startQueryFromMenu();
// The click of 停止按钮: enables 快递查询 and stops the latest worker at once.
void stopQuery();

// The routine of the query worker, given the courier code when it starts. Every control access
// goes through the user-interface thread.
void queryWorker(const std::string& code);

// The step startQuery runs when 自动保存单号 is checked (set once by the saved list).
void setAutoSaveStep(std::function<void()> step);

// The pause after each row, in milliseconds: more than 50.
inline constexpr int kRowPauseMs = 51;

} // namespace kuvona
