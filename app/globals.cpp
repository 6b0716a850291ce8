#include "app/globals.h"

#include <cstdio>
#include <cstdlib>

#include "common/fatal.h"
#include "common/gbk.h"
#include "platform/message_box.h"

namespace kuvona {

std::string appVersion;
std::string captionSuffix;
std::string carrierCode;
std::string clickedCarrierName;
std::int32_t editRecordNo = 0;
WorkerId workerThread = 0;

namespace {

int g_releaseRuns = 0;
bool g_released = false;

void showFatalError(int code, const std::string& message)
{
    messageBox(fatalErrorText(code, message), gbk("错误"), BoxErrorOk);
    exitProgram(-1);
}

} // namespace

MainControls& mainControls()
{
    static MainControls controls;
    return controls;
}

void endWorkerThread()
{
    terminateWorker(workerThread);
    // terminateWorker released the id; ids are never reused, so keeping the value is harmless.
}

void releaseSharedTexts()
{
    if (g_released)
        return;
    g_released = true;
    ++g_releaseRuns;
    std::string().swap(carrierCode);
    std::string().swap(appVersion);
    std::string().swap(captionSuffix);
    std::string().swap(clickedCarrierName);
}

int releaseSharedTextsRuns()
{
    return g_releaseRuns;
}

void exitProgram(int exitCode)
{
    releaseSharedTexts();
    terminateAllWorkers();
    std::fflush(nullptr);
    // Workers that are still unwinding end with the process; running static destructors under
    // them would race, so the process ends here.
    std::_Exit(exitCode);
}

void installFatalHandler()
{
    setFatalHandler(&showFatalError);
}

} // namespace kuvona
