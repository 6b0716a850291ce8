// kuvona-service: a local stand-in for the tracking service and the maker's web site.
//
// It answers the query URL in the forms the program relies on, from a file of sample parcels, serves
// the version file of the update check and a homepage, and offers a few routes for testing the HTTP
// client (redirects, large and slow bodies, any status). Every request head is recorded as it arrived.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include <httplib.h>

#include "common/gbk.h"
#include "service/parcels.h"
#include "service/recording_front.h"

using namespace kuvona;
using namespace kuvona::service;

namespace {

const char* const usage =
    "usage: kuvona-service [--port] PORT [--data FILE] [--log FILE] [--version-text TEXT]\n"
    "                      [--version-file FILE] [--unsupported CODE[,CODE...]]\n"
    "Listens on 127.0.0.1:PORT (0: any free port) and prints \"listening on 127.0.0.1:PORT\".\n";

const char* const gbkHtml = "text/html; charset=gbk";

struct Options
{
    int port = -1;
    std::string dataPath;
    std::string logPath;
    std::string versionText = "2.1";
    std::string versionFile;
    std::set<std::string> unsupported;
};

bool readFile(const std::string& path, std::string& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream s;
    s << in.rdbuf();
    out = s.str();
    return true;
}

std::string defaultDataPath(const char* argv0)
{
    // Next to the executable first (an installed copy), else the file in the source tree.
    std::string exe = argv0;
    const auto slash = exe.rfind('/');
    const std::string beside =
        (slash == std::string::npos ? std::string(".") : exe.substr(0, slash)) + "/parcels.txt";
    if (std::ifstream(beside))
        return beside;
    return KUVONA_SERVICE_DATA;
}

bool parseOptions(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "--help" || arg == "-h") {
            std::cout << usage;
            std::exit(0);
        } else if (arg == "--port") {
            if (!value(v))
                return false;
            o.port = std::atoi(v.c_str());
        } else if (arg == "--data") {
            if (!value(o.dataPath))
                return false;
        } else if (arg == "--log") {
            if (!value(o.logPath))
                return false;
        } else if (arg == "--version-text") {
            if (!value(o.versionText))
                return false;
        } else if (arg == "--version-file") {
            if (!value(o.versionFile))
                return false;
        } else if (arg == "--unsupported") {
            if (!value(v))
                return false;
            std::replace(v.begin(), v.end(), ',', ' ');
            std::istringstream words(v);
            for (std::string code; words >> code;)
                o.unsupported.insert(code);
        } else if (!arg.empty() && arg.find_first_not_of("0123456789") == std::string::npos && o.port < 0) {
            o.port = std::atoi(arg.c_str());
        } else {
            return false;
        }
    }
    return o.port >= 0 && o.port <= 65535;
}

long long paramNumber(const httplib::Request& req, const char* key, long long fallback, long long low,
                      long long high)
{
    if (!req.has_param(key))
        return fallback;
    char* end = nullptr;
    const std::string text = req.get_param_value(key);
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0')
        return fallback;
    return std::clamp(v, low, high);
}

void sleepMs(long long ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Sends `pieces` one after another with `pieceMs` between them, under a known length so that an
// HTTP/1.0 client reads the body without chunked framing.
void sendPieces(httplib::Response& res, std::vector<std::string> pieces, int pieceMs, const char* type)
{
    std::size_t total = 0;
    for (const auto& p : pieces)
        total += p.size();
    auto shared = std::make_shared<std::vector<std::string>>(std::move(pieces));
    auto next = std::make_shared<std::size_t>(0);
    res.set_content_provider(total, type,
                             [shared, next, pieceMs](std::size_t, std::size_t, httplib::DataSink& sink) {
                                 if (*next >= shared->size())
                                     return false;
                                 if (*next > 0 && pieceMs > 0)
                                     sleepMs(pieceMs);
                                 if (!sink.is_writable())
                                     return false;
                                 const std::string& piece = (*shared)[(*next)++];
                                 return sink.write(piece.data(), piece.size());
                             });
}

std::string homepage()
{
    return gbk("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">"
               "<title>Kuvona 快递查询</title></head><body>"
               "<h1>Kuvona 快递查询</h1>"
               "<p>这是本地测试站：查询接口、版本文件和主页。</p>"
               "<p><a href=\"/soft/updata.gif\">最新版本</a></p>"
               "</body></html>\r\n");
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::cerr << usage;
        return 2;
    }
    if (options.dataPath.empty())
        options.dataPath = defaultDataPath(argv[0]);
    std::string dataText;
    if (!readFile(options.dataPath, dataText)) {
        std::cerr << "kuvona-service: cannot read " << options.dataPath << "\n";
        return 1;
    }
    std::string error;
    const auto parsed = parseParcels(dataText, error);
    if (!parsed) {
        std::cerr << "kuvona-service: " << options.dataPath << ": " << error << "\n";
        return 1;
    }
    const std::vector<Parcel> parcels = *parsed;

    httplib::Server server;
    // Slow answers hold a thread each for their whole length; tests run several at once.
    server.new_task_queue = [] {
        return new httplib::ThreadPool(64);
    };
    server.set_keep_alive_max_count(1);

    server.Get("/", [&](const httplib::Request& req, httplib::Response& res) {
        const bool isQuery = req.has_param("id") || req.has_param("secret") || req.has_param("com") ||
                             req.has_param("nu") || req.has_param("type");
        if (!isQuery) {
            res.set_content(homepage(), gbkHtml);
            return;
        }
        const QueryRequest query{req.get_param_value("id"), req.get_param_value("secret"),
                                 req.get_param_value("com"), req.get_param_value("nu"),
                                 req.get_param_value("type")};
        const QueryAnswer answer = answerQuery(query, parcels, options.unsupported);
        if (answer.delayMs > 0)
            sleepMs(answer.delayMs);
        res.status = answer.status;
        if (answer.pieceMs > 0)
            sendPieces(res, answer.pieces, answer.pieceMs, gbkHtml);
        else
            res.set_content(answer.body(), gbkHtml);
    });

    server.Get("/soft/updata.gif", [&](const httplib::Request&, httplib::Response& res) {
        std::string text = options.versionText;
        if (!options.versionFile.empty() && !readFile(options.versionFile, text)) {
            res.status = 404;
            return;
        }
        res.set_content(text, "text/plain");
    });

    // Redirect to `to` with status `code` (default 302).
    server.Get("/r", [](const httplib::Request& req, httplib::Response& res) {
        const int code = static_cast<int>(paramNumber(req, "code", 302, 300, 399));
        res.set_redirect(req.get_param_value("to"), code);
        res.set_content("redirect\n", "text/plain");
    });

    // An endless chain of redirects: /loop?n=K leads to /loop?n=K+1.
    server.Get("/loop", [](const httplib::Request& req, httplib::Response& res) {
        const long long n = paramNumber(req, "n", 0, 0, 1000000);
        res.set_redirect("/loop?n=" + std::to_string(n + 1), 302);
        res.set_content("loop " + std::to_string(n) + "\n", "text/plain");
    });

    // `bytes` bytes (at most 64 MiB) of repeated table rows.
    server.Get("/big", [](const httplib::Request& req, httplib::Response& res) {
        const auto total = static_cast<std::size_t>(paramNumber(req, "bytes", 1024, 0, 64ll << 20));
        static const std::string pattern = "<tr><td>2024-03-01 08:00:00</td><td>big answer row</td></tr>\r\n";
        res.set_content_provider(total, "text/html",
                                 [total](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                     std::string chunk;
                                     const std::size_t n = std::min<std::size_t>(64 * 1024, total - offset);
                                     chunk.reserve(n);
                                     for (std::size_t i = offset; i < offset + n; ++i)
                                         chunk.push_back(pattern[i % pattern.size()]);
                                     return sink.write(chunk.data(), chunk.size());
                                 });
    });

    // `pieces` pieces "piece NNNNNN\n" with `ms` milliseconds between them.
    server.Get("/slow", [](const httplib::Request& req, httplib::Response& res) {
        const auto count = paramNumber(req, "pieces", 10, 1, 100000);
        const auto ms = static_cast<int>(paramNumber(req, "ms", 200, 0, 60000));
        std::vector<std::string> pieces;
        for (long long i = 1; i <= count; ++i) {
            char piece[32];
            std::snprintf(piece, sizeof piece, "piece %06lld\n", i);
            pieces.emplace_back(piece);
        }
        sendPieces(res, std::move(pieces), ms, "text/plain");
    });

    // Any status with any body (UTF-8 in the URL, sent as GBK).
    server.Get("/status", [](const httplib::Request& req, httplib::Response& res) {
        res.status = static_cast<int>(paramNumber(req, "code", 200, 100, 599));
        res.set_content(gbk(req.get_param_value("body")), gbkHtml);
    });

    const int backendPort = server.bind_to_any_port("127.0.0.1");
    if (backendPort < 0) {
        std::cerr << "kuvona-service: cannot bind the HTTP server\n";
        return 1;
    }
    std::thread([&server] { server.listen_after_bind(); }).detach();

    RequestLog log(options.logPath);
    if (!log.ok()) {
        std::cerr << "kuvona-service: cannot open " << options.logPath << "\n";
        return 1;
    }
    RecordingFront front(log, backendPort);
    const int port = front.listen(options.port);
    if (port < 0) {
        std::perror("kuvona-service: listen");
        return 1;
    }
    std::printf("listening on 127.0.0.1:%d\n", port);
    std::fflush(stdout);
    front.run();
    return 1;
}
