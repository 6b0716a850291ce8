#pragma once

// The sample parcels of the reference tracking service and the answers made from them.
//
// The data file is UTF-8 for editing; every text the service sends is GBK, as the real service's.

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kuvona::service {

struct ParcelRow
{
    std::string time;     // GBK
    std::string progress; // GBK
};

struct Parcel
{
    std::string number;                    // GBK, as the decoded `nu` key must be
    std::vector<std::string> carrierCodes; // empty: the number is known for every courier
    std::vector<ParcelRow> rows;
    std::optional<std::string> rawBody; // GBK; replaces the table
    int status = 200;
    int delayMs = 0;      // before the response head
    int pieceMs = 0;      // between the pieces of the body
    int zeroAfterRow = 0; // 1-based; 0 for none
};

// Parses the data file's text. On a malformed line returns nothing and sets `error` to a message
// naming the line.
std::optional<std::vector<Parcel>> parseParcels(const std::string& utf8Text, std::string& error);

// One answer of the query endpoint: the body in pieces (sent one after another, with `pieceMs`
// between them) and how to send it.
struct QueryAnswer
{
    int status = 200;
    int delayMs = 0;
    int pieceMs = 0;
    std::vector<std::string> pieces;

    std::string body() const;
};

struct QueryRequest
{
    std::string id;
    std::string secret;
    std::string com;
    std::string nu; // decoded bytes
    std::string type;
};

// What the service answers. An id or secret other than the program's gives status 403 with a short
// text; a `com` outside the courier table or in `unsupported` gives "不支持的快递公司"; a number not in
// `parcels` for that courier gives "单号不存在"; else the parcel's answer.
QueryAnswer answerQuery(const QueryRequest& request, const std::vector<Parcel>& parcels,
                        const std::set<std::string>& unsupported);

} // namespace kuvona::service
