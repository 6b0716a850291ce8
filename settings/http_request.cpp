#include "settings/http_request.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include <curl/curl.h>

#include "common/text.h"
#include "platform/cancel.h"
#include "settings/url.h"

namespace kuvona {
namespace {

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer
{
    CURL* easy = nullptr;
    HttpTimeouts timeouts;
    curl_off_t uploadSize = 0;

    std::string body;
    std::string headers; // the header block of the latest response
    bool headersOverflow = false;
    bool sawResponse = false;

    unsigned long long lastActivity = 0;
    curl_off_t lastDown = -1;
    curl_off_t lastUp = -1;
};

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user)
{
    auto* t = static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    const std::size_t room = httpRequestBodyLimit - t->body.size();
    const std::size_t take = std::min(n, room);
    t->body.append(data, take);
    // Taking fewer bytes than offered ends the transfer; what arrived so far stays.
    return take;
}

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user)
{
    auto* t = static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    std::string_view line(data, n);
    // A redirect or an interim 100 response is followed by another block: only the last one counts.
    if (line.starts_with("HTTP/")) {
        t->headers.clear();
        t->headersOverflow = false;
        t->sawResponse = true;
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    if (!t->headersOverflow) {
        t->headers.append(line).append("\r\n");
        if (t->headers.size() >= httpRequestHeaderBuffer)
            t->headersOverflow = true;
    }
    return n;
}

// Stands in for the per-operation time-outs of the Internet functions: the send or receive time-out
// runs from the last byte that moved, once the connection stands (connecting has its own time-out).
int onProgress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow)
{
    auto* t = static_cast<Transfer*>(user);
    if (cancellationRequested())
        return 1;
    const unsigned long long now = tickCount();
    curl_off_t connectTime = 0;
    curl_easy_getinfo(t->easy, CURLINFO_CONNECT_TIME_T, &connectTime);
    if (connectTime == 0 || dlnow != t->lastDown || ulnow != t->lastUp) {
        t->lastDown = dlnow;
        t->lastUp = ulnow;
        t->lastActivity = now;
        return 0;
    }
    const int limit = ulnow < t->uploadSize ? t->timeouts.sendMs : t->timeouts.receiveMs;
    return now - t->lastActivity > static_cast<unsigned long long>(std::max(limit, 0)) ? 1 : 0;
}

bool containsIgnoringCase(const std::string& text, const char* sought)
{
    return findText(text, sought, 1, true) != -1;
}

// Whether one of the lines is a header of this name (so libcurl must not add its own).
bool hasHeaderNamed(const std::vector<std::string>& lines, std::string_view name)
{
    for (const std::string& line : lines) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string_view n(line.data(), colon);
        while (!n.empty() && (n.back() == ' ' || n.back() == '\t'))
            n.remove_suffix(1);
        if (equalIgnoringAsciiCase(n, name))
            return true;
    }
    return false;
}

std::vector<std::string> splitHeaderLines(const std::string& h)
{
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < h.size()) {
        std::size_t end = h.find("\r\n", pos);
        if (end == std::string::npos)
            end = h.size();
        if (end > pos)
            lines.emplace_back(h.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

class HeaderList
{
public:
    ~HeaderList() { curl_slist_free_all(m_list); }
    bool add(const std::string& line)
    {
        curl_slist* next = curl_slist_append(m_list, line.c_str());
        if (!next)
            return false;
        m_list = next;
        return true;
    }
    curl_slist* get() const { return m_list; }

private:
    curl_slist* m_list = nullptr;
};

} // namespace

std::string httpRequest(const std::string& urlIn, const std::optional<std::string>& methodIn,
                        const std::optional<std::string>& proxyIn,
                        const std::optional<std::string>& extraHeadersIn,
                        const std::optional<std::string>& postDataIn, std::string* responseHeaders,
                        const HttpTimeouts& timeouts)
{
    const std::string url = bytesToText(urlIn);
    std::string method = bytesToText(methodIn.value_or(std::string()));
    std::string h = bytesToText(extraHeadersIn.value_or(std::string()));
    const std::string postData = bytesToText(postDataIn.value_or(std::string()));

    const std::string host = urlHost(url);
    int port = urlPort(url);
    if (port < 0 || port > 65535)
        return {};
    if (port == 0) // the "no port" value: the service's default
        port = 80;
    const std::string path = urlPath(url);

    initCurlOnce();
    CURL* easy = curl_easy_init();
    if (!easy)
        return {};

    std::string upper = method;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; });
    if (upper != "POST")
        method = "GET";
    const bool isGet = method == "GET";

    if (!containsIgnoringCase(h, "Accept: "))
        h += std::string("Accept: ") + httpRequestDefaultAccept + "\r\n";
    if (!containsIgnoringCase(h, "Referer: "))
        h += "Referer: " + url + "\r\n";
    if (!containsIgnoringCase(h, "Accept-Language: "))
        h += "Accept-Language: zh-cn\r\n";
    if (!isGet && !postData.empty()) {
        h += "Content-Type: application/x-www-form-urlencoded\r\n";
        h += "Content-Length: " + std::to_string(postData.size()) + "\r\n";
    }

    // libcurl adds headers of its own unless a line of the same name is given; an empty "Name:"
    // suppresses one, so that only the lines above go out besides Host and User-Agent.
    const std::vector<std::string> lines = splitHeaderLines(h);
    HeaderList headerList;
    bool listOk = true;
    for (const std::string& line : lines)
        listOk = listOk && headerList.add(line);
    if (!hasHeaderNamed(lines, "Accept"))
        listOk = listOk && headerList.add("Accept:");
    if (!isGet) {
        if (!hasHeaderNamed(lines, "Expect"))
            listOk = listOk && headerList.add("Expect:");
        if (!hasHeaderNamed(lines, "Content-Type"))
            listOk = listOk && headerList.add("Content-Type:");
        if (!hasHeaderNamed(lines, "Content-Length"))
            listOk = listOk && headerList.add("Content-Length:");
    }
    if (!listOk) {
        curl_easy_cleanup(easy);
        return {};
    }

    Transfer t;
    t.easy = easy;
    t.timeouts = timeouts;
    t.lastActivity = tickCount();

    const std::string target = "http://" + host + ":" + std::to_string(port) + path;
    curl_easy_setopt(easy, CURLOPT_URL, target.c_str());
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_USERAGENT, httpRequestUserAgent);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // Always from the server: a fresh handle each time, so no connection or cache is shared.
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::max(timeouts.connectMs, 1)));
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
    // Direct access ignores the environment's proxy settings; a named proxy has no bypass list.
    const std::string proxy = proxyIn ? bytesToText(*proxyIn) : std::string();
    curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "");

    if (isGet) {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
    } else {
        t.uploadSize = static_cast<curl_off_t>(postData.size());
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, postData.c_str());
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, t.uploadSize);
        if (method != "POST")
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    }

    // Whatever ends the transfer (an error page, a time-out, a closed connection), the body read so
    // far is the answer.
    curl_easy_perform(easy);
    curl_easy_cleanup(easy);

    if (responseHeaders) {
        if (t.sawResponse && !t.headersOverflow && t.headers.size() < httpRequestHeaderBuffer)
            *responseHeaders = bytesToText(t.headers);
        else
            *responseHeaders = std::string(httpRequestHeaderBuffer, ' ');
    }
    return bytesToText(t.body);
}

} // namespace kuvona
