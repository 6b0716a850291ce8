#include "service/parcels.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <sstream>

#include "common/gbk.h"
#include "query/carrier_table.h"
#include "query/query_url.h"

namespace kuvona::service {
namespace {

std::string trimmed(const std::string& s)
{
    const auto begin = s.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return {};
    const auto end = s.find_last_not_of(" \t\r");
    return s.substr(begin, end - begin + 1);
}

bool toInt(const std::string& s, int& out)
{
    const char* end = s.data() + s.size();
    auto [ptr, ec] = std::from_chars(s.data(), end, out);
    return ec == std::errc() && ptr == end;
}

std::vector<std::string> words(const std::string& s)
{
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

// Rows made up from a counter, for the long parcel that shows how the list copes with hundreds of rows.
ParcelRow generatedRow(int i)
{
    const int minutes = i * 7;
    char time[32];
    std::snprintf(time, sizeof time, "2024-03-%02d %02d:%02d:%02d", 1 + (minutes / 1440) % 28,
                  (minutes / 60) % 24, minutes % 60, (i * 13) % 60);
    const std::string progress =
        "【中转站" + std::to_string(i) + "】快件已到达，正在发往下一站，第 " + std::to_string(i) + " 次扫描";
    return {time, gbk(progress)};
}

std::string gbkText(const std::string& utf8)
{
    return gbk(utf8);
}

} // namespace

std::optional<std::vector<Parcel>> parseParcels(const std::string& utf8Text, std::string& error)
{
    std::vector<Parcel> parcels;
    std::istringstream in(utf8Text);
    int lineNo = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNo;
        const std::string t = trimmed(line);
        if (t.empty() || t.front() == '#')
            continue;
        const auto colon = t.find(':');
        const auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(lineNo) + ": " + why;
            return std::nullopt;
        };
        if (colon == std::string::npos)
            return fail("expected \"key: value\"");
        const std::string key = trimmed(t.substr(0, colon));
        const std::string value = trimmed(t.substr(colon + 1));
        if (key == "number") {
            if (value.empty())
                return fail("empty number");
            parcels.push_back({});
            parcels.back().number = gbkText(value);
            continue;
        }
        if (parcels.empty())
            return fail("\"" + key + "\" before the first \"number:\"");
        Parcel& p = parcels.back();
        int n = 0;
        if (key == "com") {
            p.carrierCodes = words(value);
        } else if (key == "row") {
            const auto bar = value.find('|');
            if (bar == std::string::npos)
                return fail("a row needs \"time | progress\"");
            p.rows.push_back(
                {gbkText(trimmed(value.substr(0, bar))), gbkText(trimmed(value.substr(bar + 1)))});
        } else if (key == "generate" && toInt(value, n) && n >= 0) {
            const int first = static_cast<int>(p.rows.size());
            for (int i = 1; i <= n; ++i)
                p.rows.push_back(generatedRow(first + i));
        } else if (key == "raw") {
            p.rawBody = gbkText(value);
        } else if (key == "status" && toInt(value, n) && n >= 100 && n <= 599) {
            p.status = n;
        } else if (key == "delay-ms" && toInt(value, n) && n >= 0) {
            p.delayMs = n;
        } else if (key == "piece-ms" && toInt(value, n) && n >= 0) {
            p.pieceMs = n;
        } else if (key == "zero-after-row" && toInt(value, n) && n >= 0) {
            p.zeroAfterRow = n;
        } else {
            return fail("unknown key or bad value: " + key);
        }
    }
    return parcels;
}

std::string QueryAnswer::body() const
{
    std::string out;
    for (const std::string& piece : pieces)
        out += piece;
    return out;
}

QueryAnswer answerQuery(const QueryRequest& request, const std::vector<Parcel>& parcels,
                        const std::set<std::string>& unsupported)
{
    QueryAnswer answer;
    if (request.id != queryAccountId || request.secret != queryApiSecret) {
        answer.status = 403;
        answer.pieces = {gbk("参数错误：id 或 secret 不对")};
        return answer;
    }
    if (!carrierByCode(request.com) || unsupported.count(request.com)) {
        answer.pieces = {gbk("不支持的快递公司")};
        return answer;
    }
    const auto found = std::find_if(parcels.begin(), parcels.end(), [&](const Parcel& p) {
        return p.number == request.nu &&
               (p.carrierCodes.empty() ||
                std::find(p.carrierCodes.begin(), p.carrierCodes.end(), request.com) != p.carrierCodes.end());
    });
    if (found == parcels.end()) {
        answer.pieces = {gbk("单号不存在")};
        return answer;
    }
    const Parcel& p = *found;
    answer.status = p.status;
    answer.delayMs = p.delayMs;
    answer.pieceMs = p.pieceMs;
    if (p.rawBody) {
        answer.pieces = {*p.rawBody};
        return answer;
    }
    answer.pieces.push_back(gbk("<div class=\"result\"><table class=\"result-table\">\r\n"
                                "<tr><th>时间</th><th>地点和跟踪进度</th></tr>\r\n"));
    for (std::size_t i = 0; i < p.rows.size(); ++i) {
        std::string piece = "<tr><td>" + p.rows[i].time + "</td><td>" + p.rows[i].progress + "</td></tr>\r\n";
        if (static_cast<int>(i) + 1 == p.zeroAfterRow)
            piece.push_back('\0');
        answer.pieces.push_back(std::move(piece));
    }
    answer.pieces.push_back("</table></div>\r\n");
    return answer;
}

} // namespace kuvona::service
