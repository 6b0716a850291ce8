#include "query/http_get.h"

#include <memory>
#include <mutex>

#include <curl/curl.h>

#include "platform/cancel.h"

namespace kuvona {
namespace {

constexpr std::size_t hostBufferSize = 256;
constexpr std::size_t pathBufferSize = 2048;
constexpr std::size_t credentialBufferSize = 128;

constexpr long connectTimeoutSeconds = 15;
constexpr long lowSpeedTimeSeconds = 30;
constexpr long maxRedirects = 10;
// How long one wait for network activity may last before the stop flag is looked at again.
constexpr int pollMilliseconds = 20;

bool fits(const std::string& part, std::size_t bufferSize)
{
    return part.size() < bufferSize; // one byte stays for the terminating zero
}

std::string lowerAscii(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    return out;
}

// The process-wide client: libcurl's global state, set up once whichever thread asks first.
void ensureClient()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer
{
    std::string body;
    std::size_t maxBody = httpMaxBodyBytes;
};

std::size_t onBodyBytes(char* data, std::size_t size, std::size_t count, void* userData)
{
    auto* transfer = static_cast<Transfer*>(userData);
    const std::size_t length = size * count;
    const std::size_t room = transfer->maxBody - transfer->body.size();
    if (length > room) {
        transfer->body.append(data, room);
        return 0; // anything but `length` ends the transfer; the bytes kept so far stay
    }
    transfer->body.append(data, length);
    return length;
}

int onProgress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return cancellationRequested() ? 1 : 0;
}

struct EasyDeleter
{
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter
{
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter
{
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

} // namespace

std::optional<UrlParts> splitUrl(std::string_view url)
{
    const std::size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string_view::npos)
        return std::nullopt;
    UrlParts parts;
    parts.scheme = lowerAscii(url.substr(0, schemeEnd));
    if (parts.scheme == "http")
        parts.port = 80;
    else if (parts.scheme == "https")
        parts.port = 443;
    else
        return std::nullopt;

    const std::string_view afterScheme = url.substr(schemeEnd + 3);
    const std::size_t authorityEnd = afterScheme.find_first_of("/?#");
    std::string_view authority = afterScheme.substr(0, authorityEnd);
    const std::string_view rest =
        authorityEnd == std::string_view::npos ? std::string_view() : afterScheme.substr(authorityEnd);

    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        const std::string_view userInfo = authority.substr(0, at);
        const std::size_t colon = userInfo.find(':');
        parts.userName = std::string(userInfo.substr(0, colon));
        if (colon != std::string_view::npos)
            parts.password = std::string(userInfo.substr(colon + 1));
        authority = authority.substr(at + 1);
    }

    std::string_view portText;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        parts.host = std::string(authority.substr(0, close + 1));
        const std::string_view tail = authority.substr(close + 1);
        if (!tail.empty()) {
            if (tail.front() != ':')
                return std::nullopt;
            portText = tail.substr(1);
        }
    } else {
        const std::size_t colon = authority.rfind(':');
        parts.host = std::string(authority.substr(0, colon));
        if (colon != std::string_view::npos)
            portText = authority.substr(colon + 1);
    }
    if (parts.host.empty())
        return std::nullopt;
    if (!portText.empty()) {
        if (portText.size() > 5)
            return std::nullopt;
        int port = 0;
        for (char c : portText) {
            if (c < '0' || c > '9')
                return std::nullopt;
            port = port * 10 + (c - '0');
        }
        if (port < 1 || port > 65535)
            return std::nullopt;
        parts.port = port;
    }

    if (rest.empty() || rest.front() != '/')
        parts.pathWithQuery.push_back('/');
    parts.pathWithQuery.append(rest);

    if (!fits(parts.host, hostBufferSize) || !fits(parts.pathWithQuery, pathBufferSize) ||
        !fits(parts.userName, credentialBufferSize) || !fits(parts.password, credentialBufferSize))
        return std::nullopt;
    return parts;
}

std::string requestTarget(const UrlParts& parts)
{
    return parts.pathWithQuery.substr(0, parts.pathWithQuery.find('#'));
}

std::string httpGetBytes(const std::string& url)
{
    return httpGetBytes(url, httpMaxBodyBytes);
}

std::string httpGetBytes(const std::string& url, std::size_t maxBodyBytes)
{
    if (url.empty())
        return {};
    const std::optional<UrlParts> parts = splitUrl(url);
    if (!parts)
        return {};
    if (cancellationRequested())
        return {};
    ensureClient();

    // Credentials go through their own options so that the URL handed to libcurl carries none. The
    // scheme's own port is left out so that the Host header and a proxy see the name as written.
    const bool defaultPort = parts->port == (parts->scheme == "https" ? 443 : 80);
    std::string fetchUrl = parts->scheme;
    fetchUrl += "://";
    fetchUrl += parts->host;
    if (!defaultPort) {
        fetchUrl += ':';
        fetchUrl += std::to_string(parts->port);
    }
    fetchUrl += requestTarget(*parts);

    // The header list outlives the handles that point to it.
    std::unique_ptr<curl_slist, ListDeleter> headers;
    for (const char* line : {"Accept: */*", "Pragma: no-cache", "Cache-Control: no-cache"}) {
        curl_slist* grown = curl_slist_append(headers.get(), line);
        if (!grown)
            return {};
        (void)headers.release();
        headers.reset(grown);
    }

    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!easy || !multi)
        return {};

    Transfer transfer;
    transfer.maxBody = maxBodyBytes;
    const std::string userAgent(httpUserAgent);

    CURL* h = easy.get();
    curl_easy_setopt(h, CURLOPT_URL, fetchUrl.c_str());
    if (!parts->userName.empty())
        curl_easy_setopt(h, CURLOPT_USERNAME, parts->userName.c_str());
    if (!parts->password.empty())
        curl_easy_setopt(h, CURLOPT_PASSWORD, parts->password.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(h, CURLOPT_USERAGENT, userAgent.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, maxRedirects);
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // CURLOPT_PROXY stays unset: libcurl then takes the proxy from the environment, as the system's
    // preconfigured proxy settings.
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, connectTimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, lowSpeedTimeSeconds);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onBodyBytes);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);

    // The multi interface lets this thread look at its stop flag between short waits; the progress
    // callback alone would only be asked about once a second while the server is silent.
    if (curl_multi_add_handle(multi.get(), h) != CURLM_OK)
        return {};
    int running = 1;
    while (running && !cancellationRequested()) {
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK || !running)
            break;
        if (curl_multi_poll(multi.get(), nullptr, 0, pollMilliseconds, nullptr) != CURLM_OK)
            break;
    }
    curl_multi_remove_handle(multi.get(), h);
    return std::move(transfer.body);
}

} // namespace kuvona
