// The settings file as the courier window uses it (24 reads on opening, 24 writes on "确定"), the
// URL routines and one update-check request against a loopback server.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <benchmark/benchmark.h>

#include "common/gbk.h"
#include "settings/http_request.h"
#include "settings/ini.h"
#include "settings/url.h"
#include "tests/settings/raw_http_server.h"

namespace {

const char* const couriers[] = {"中通",   "天天",   "圆通",     "顺丰",     "速尔",     "汇通",
                                "中铁",   "申通",   "快捷",     "亚风",     "中诚",     "韵达",
                                "德邦",   "新邦",   "星辰",     "EMS",      "DHL",      "TNT",
                                "飞康达", "宅急送", "中邮物流", "广东邮政", "联邦国际", "联邦国内"};

struct SettingsFile
{
    SettingsFile()
    {
        dir = std::filesystem::temp_directory_path() / ("kuvona-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        path = (dir / "set.ini").string();
        for (const char* c : couriers)
            kuvona::writeIniValue(path, "Set", kuvona::gbk(c), kuvona::gbk("假"));
    }
    ~SettingsFile() { std::filesystem::remove_all(dir); }
    std::filesystem::path dir;
    std::string path;
};

void openCarrierWindowReads(benchmark::State& state)
{
    SettingsFile file;
    std::string keys[24];
    for (int i = 0; i < 24; ++i)
        keys[i] = kuvona::gbk(couriers[i]);
    for (auto _ : state)
        for (const std::string& key : keys)
            benchmark::DoNotOptimize(kuvona::readIniValue(file.path, "Set", key));
}
BENCHMARK(openCarrierWindowReads)->Unit(benchmark::kMicrosecond);

void okButtonWrites(benchmark::State& state)
{
    SettingsFile file;
    std::string keys[24];
    for (int i = 0; i < 24; ++i)
        keys[i] = kuvona::gbk(couriers[i]);
    const std::string values[2] = {kuvona::gbk("真"), kuvona::gbk("假")};
    int round = 0;
    for (auto _ : state) {
        // Alternate the values so every write really replaces the file.
        ++round;
        for (const std::string& key : keys)
            benchmark::DoNotOptimize(kuvona::writeIniValue(file.path, "Set", key, values[round % 2]));
    }
}
BENCHMARK(okButtonWrites)->Unit(benchmark::kMicrosecond);

void urlParts(benchmark::State& state)
{
    const std::string url = "HTTP://WWW.Kuvona.COM:81/soft/updata.gif?v=2.1";
    for (auto _ : state) {
        benchmark::DoNotOptimize(kuvona::urlHost(url));
        benchmark::DoNotOptimize(kuvona::urlPort(url));
        benchmark::DoNotOptimize(kuvona::urlPath(url));
    }
}
BENCHMARK(urlParts);

void versionRequestLoopback(benchmark::State& state)
{
    kuvona::test::RawHttpServer server({kuvona::test::RawHttpServer::response("2.2\r\n")});
    const std::string url = server.base() + "/soft/updata.gif";
    for (auto _ : state)
        benchmark::DoNotOptimize(kuvona::httpRequest(url));
}
BENCHMARK(versionRequestLoopback)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
