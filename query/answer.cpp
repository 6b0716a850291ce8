#include "query/answer.h"

#include "common/gbk.h"
#include "common/text.h"

namespace kuvona {

std::string answerText(std::string_view body)
{
    return bytesToText(body);
}

AnswerKind classifyAnswer(std::string_view text)
{
    static const std::string notFound = gbk("单号不存在");
    static const std::string unsupported = gbk("不支持的快递公司");
    if (text == notFound)
        return AnswerKind::NumberNotFound;
    if (text == unsupported)
        return AnswerKind::CarrierUnsupported;
    return AnswerKind::ResultTable;
}

bool isMissingNumber(std::string_view number)
{
    static const std::string prompt = gbk("请输入运单号码");
    return number.empty() || number == prompt;
}

} // namespace kuvona
