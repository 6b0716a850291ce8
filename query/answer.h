#pragma once

// Sorting the tracking service's answer into its outcomes, and the number check before a query.

#include <string>
#include <string_view>

namespace kuvona {

enum class AnswerKind
{
    NumberNotFound,     // exactly "单号不存在"
    CarrierUnsupported, // exactly "不支持的快递公司"
    ResultTable,        // anything else, the empty answer of a failed fetch included
};

// The answer text: the body up to its first zero byte, no character-set conversion.
std::string answerText(std::string_view body);

// Whole-text byte comparison: an answer that differs by a blank or a line break is a result table.
AnswerKind classifyAnswer(std::string_view answerText);

// True for the empty number and for the edit box's prompt text "请输入运单号码", which must not be
// sent to the service.
bool isMissingNumber(std::string_view number);

} // namespace kuvona
