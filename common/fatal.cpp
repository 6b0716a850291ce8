#include "common/fatal.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "common/gbk.h"

namespace kuvona {
namespace {

std::atomic<FatalHandler> g_handler{nullptr};

} // namespace

FatalHandler setFatalHandler(FatalHandler handler)
{
    return g_handler.exchange(handler);
}

std::string fatalErrorText(int code, const std::string& message)
{
    std::string text = gbk("运行时出错!\r\n\r\n");
    if (code != 0)
        text += gbk("错误代码：") + std::to_string(code) + "\r\n\r\n";
    if (!message.empty())
        text += gbk("错误信息：") + message + "\r\n";
    return text;
}

void fatalRuntimeError(int code, const std::string& message)
{
    if (auto handler = g_handler.load())
        handler(code, message);
    std::fputs(utf8FromGbk(fatalErrorText(code, message)).c_str(), stderr);
    std::fflush(stderr);
    std::_Exit(-1);
}

} // namespace kuvona
