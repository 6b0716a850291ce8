#include "app/test_actions.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <memory>

#include "app/globals.h"
#include "platform/check_list_box.h"
#include "platform/report_list_view.h"

namespace kuvona {
namespace {

void runNext(QWidget* window, std::shared_ptr<QStringList> actions);

// A fixed wait before acting on a query's rows would race a slow machine; the rows themselves say
// when the query is under way. After the patience runs out the next action runs all the same.
constexpr int kRowsPollMs = 20;
constexpr int kRowsPatienceMs = 20000;

void waitForProgressRows(QWidget* window, std::shared_ptr<QStringList> actions, int rows, int pollsLeft)
{
    const ReportListView* list = mainControls().progressList;
    if (pollsLeft <= 0 || !list || list->model()->rowCount() >= rows) {
        runNext(window, actions);
        return;
    }
    QTimer::singleShot(kRowsPollMs, window, [window, actions, rows, pollsLeft] {
        waitForProgressRows(window, actions, rows, pollsLeft - 1);
    });
}

void runNext(QWidget* window, std::shared_ptr<QStringList> actions)
{
    while (!actions->isEmpty()) {
        const QString action = actions->takeFirst();
        const QString verb = action.section(QLatin1Char(':'), 0, 0);
        const QString arg = action.section(QLatin1Char(':'), 1);
        if (verb == QLatin1String("wait")) {
            QTimer::singleShot(arg.toInt(), window, [window, actions] { runNext(window, actions); });
            return;
        }
        if (verb == QLatin1String("rows")) {
            waitForProgressRows(window, actions, arg.toInt(), kRowsPatienceMs / kRowsPollMs);
            return;
        }
        // Each action runs from the event loop, so one that opens a modal window or ends the
        // program behaves as it would for a user.
        QTimer::singleShot(0, window, [window, actions, verb, arg] {
            if (verb == QLatin1String("close")) {
                window->close();
            } else if (verb == QLatin1String("trigger")) {
                if (auto* a = window->findChild<QAction*>(arg))
                    a->trigger();
            } else if (verb == QLatin1String("click")) {
                if (auto* b = window->findChild<QPushButton*>(arg))
                    b->click();
            } else if (verb == QLatin1String("type")) {
                if (auto* number = mainControls().number)
                    number->setText(arg);
            } else if (verb == QLatin1String("tick")) {
                if (auto* carriers = mainControls().carriers) {
                    carriers->setChecked(arg.toInt(), true);
                    carriers->setCurrentSelection(arg.toInt());
                }
            }
            runNext(window, actions);
        });
        return;
    }
}

} // namespace

void runTestActionsFromEnvironment(QWidget* mainWindow)
{
    const char* script = std::getenv("KUVONA_TEST_ACTIONS");
    if (!script || !*script)
        return;
    auto actions =
        std::make_shared<QStringList>(QString::fromUtf8(script).split(QLatin1Char(';'), Qt::SkipEmptyParts));
    runNext(mainWindow, actions);
}

} // namespace kuvona
