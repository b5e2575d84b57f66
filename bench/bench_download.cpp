// A 1 GiB package over loopback, served by nginx so the server is not what is measured: our
// download (streamed to disk, SHA-256 while streaming) beside the curl tool writing the file then
// sha256sum, and a bare libcurl loop writing and hashing in its write callback (the floor).
// Prints MB/s of each, the ratios, and the resident-memory growth of ours.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <openssl/evp.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <thread>

#include "KVADownload/DriverDownloadManager.h"
#include "KVADownload/Folders.h"
#include "Util/CommonCfgMgr.h"
#include "ServeKit/Nginx.h"
#include "kva/platform/File.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Paths.h"
#include "kva/platform/Process.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kSize = 1ull << 30;
const fs::path kWork = fs::temp_directory_path() / "kva-bench-download";

std::string g_url, g_hash;
CNginx g_nginx;
std::map<std::string, double> g_best;  // MB/s, best of the repetitions
double g_rssGrowthMiB = 0;

std::string Hex(const unsigned char* d, unsigned n) {
    static const char* h = "0123456789abcdef";
    std::string s;
    for (unsigned i = 0; i < n; ++i) s += {h[d[i] >> 4], h[d[i] & 15]};
    return s;
}

// 1 GiB of pseudo-random bytes (so nothing along the way can compress it) and its hash.
void MakePackage(const fs::path& file) {
    EVP_MD_CTX* sha = EVP_MD_CTX_new();
    EVP_DigestInit_ex(sha, EVP_sha256(), nullptr);
    std::vector<std::uint64_t> buf(1 << 17);
    std::uint64_t x = 0x9E3779B97F4A7C15ull;
    std::ofstream out(file, std::ios::binary);
    for (std::uint64_t done = 0; done < kSize; done += buf.size() * 8) {
        for (auto& v : buf) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            v = x;
        }
        out.write(reinterpret_cast<const char*>(buf.data()), static_cast<std::streamsize>(buf.size() * 8));
        EVP_DigestUpdate(sha, buf.data(), buf.size() * 8);
    }
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    EVP_DigestFinal_ex(sha, d, &n);
    EVP_MD_CTX_free(sha);
    g_hash = Hex(d, n);
}

bool StartNginx(const fs::path& root) {
    std::string error;
    if (!g_nginx.Start(root, kWork / "nginx", "", &error)) {
        std::cerr << error << "\n";
        return false;
    }
    g_url = g_nginx.Url();
    return true;
}

void StopNginx() { g_nginx.Stop(); }

std::uint64_t RssKiB() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stoull(line.substr(6));
    return 0;
}

int Run(const std::vector<std::string>& args, std::string* out) {
    return plat::RunProcess(args.front(), std::vector<std::string>(args.begin() + 1, args.end()), out);
}

void Record(benchmark::State& state, const std::string& name, double seconds) {
    const double mbps = static_cast<double>(kSize) / 1e6 / seconds;
    state.counters["MB/s"] = mbps;
    g_best[name] = std::max(g_best[name], mbps);
}

void BM_CurlToolThenSha256sum(benchmark::State& state) {
    const fs::path out = kWork / "curl.out";
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        std::string ignored, sum;
        if (Run({"curl", "-s", "-o", out.string(), g_url + "/package.bin"}, &ignored) != 0 ||
            Run({"sha256sum", out.string()}, &sum) != 0 || sum.substr(0, 64) != g_hash) {
            state.SkipWithError("curl or sha256sum failed");
            break;
        }
        Record(state, "curl+sha256sum", std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        fs::remove(out);
    }
}

struct BareSink {
    plat::CFile file;
    EVP_MD_CTX* sha = nullptr;
};

size_t BareWrite(char* d, size_t s, size_t n, void* u) {
    auto* sink = static_cast<BareSink*>(u);
    const size_t len = s * n;
    if (!sink->file.WriteAll(d, len)) return 0;
    EVP_DigestUpdate(sink->sha, d, len);
    return len;
}

void BM_BareLibcurlLoop(benchmark::State& state) {
    const fs::path out = kWork / "bare.out";
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        BareSink sink;
        sink.file.Open(out, false, true);
        sink.sha = EVP_MD_CTX_new();
        EVP_DigestInit_ex(sink.sha, EVP_sha256(), nullptr);
        CURL* h = curl_easy_init();
        const std::string url = g_url + "/package.bin";
        curl_easy_setopt(h, CURLOPT_URL, url.c_str());
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, BareWrite);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
        const CURLcode rc = curl_easy_perform(h);
        curl_easy_cleanup(h);
        sink.file.Close();
        unsigned char d[EVP_MAX_MD_SIZE];
        unsigned n = 0;
        EVP_DigestFinal_ex(sink.sha, d, &n);
        EVP_MD_CTX_free(sink.sha);
        if (rc != CURLE_OK || Hex(d, n) != g_hash) {
            state.SkipWithError("bare loop failed");
            break;
        }
        Record(state, "bare libcurl", std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        fs::remove(out);
    }
}

void BM_KvaDownload(benchmark::State& state) {
    auto* mgr = CDriverDownloadManager::GetInstance();
    download_param p;
    p.strDriverID = "16";
    p.strNextVersion = "1.0";
    p.strUrl = "package.bin";
    p.strFilepath = GetDownloadPath("16", "1.0", 1, 1) + "\\update.zip";
    p.strHashAlgo = "SHA256";
    p.strHash = g_hash;
    p.FileSize = kSize;
    p.upateType = 5;
    for (auto _ : state) {
        std::mutex m;
        std::condition_variable cv;
        bool done = false, ok = false;
        auto end = [&](_DownloadCbParam r) {
            std::lock_guard lock(m);
            done = true;
            ok = r.success;
            cv.notify_all();
        };
        std::atomic<bool> sampling{true};
        std::atomic<std::uint64_t> peak{0};
        const std::uint64_t before = RssKiB();
        std::thread sampler([&] {
            while (sampling) {
                peak = std::max<std::uint64_t>(peak, RssKiB());
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        const auto t0 = std::chrono::steady_clock::now();
        mgr->Init(p);
        mgr->FuncBind("16", 5, {}, end, end, end);
        mgr->BeginDownload("16", 5);
        {
            std::unique_lock lock(m);
            cv.wait(lock, [&] { return done; });
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        mgr->WaitAllIdle(std::chrono::seconds(60));
        sampling = false;
        sampler.join();
        if (!ok) {
            state.SkipWithError("download failed");
            break;
        }
        const double growth = (static_cast<double>(peak) - static_cast<double>(before)) / 1024.0;
        state.counters["rss_growth_MiB"] = growth;
        g_rssGrowthMiB = std::max(g_rssGrowthMiB, growth);
        Record(state, "kva download", seconds);
        fs::remove_all(plat::ToHostPath(GetDownloadPath("16", "1.0", 0, 1)));
        GetDownloadPath("16", "1.0", 1, 1);
    }
}

BENCHMARK(BM_BareLibcurlLoop)->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KvaDownload)->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CurlToolThenSha256sum)->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    fs::remove_all(kWork);
    fs::create_directories(kWork / "root");
    fs::create_directories(kWork / "tmp");
    std::cout << "making a 1 GiB package..." << std::endl;
    MakePackage(kWork / "root" / "package.bin");
    if (!StartNginx(kWork / "root")) {
        std::cerr << "bench_download: nginx is needed (make deps)\n";
        return 1;
    }
    plat::OpenMachine(kWork / "machine");
    const auto cfg = CCommonCfgMgr::FilePath();
    fs::create_directories(cfg.parent_path());
    std::ofstream(cfg) << "<commoncfg><UpdateService url=\"" << g_url << "\"/></commoncfg>\n";
    curl_global_init(CURL_GLOBAL_DEFAULT);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CDriverDownloadManager::GetInstance()->Shutdown();
    StopNginx();
    const double ours = g_best["kva download"], bare = g_best["bare libcurl"], tool = g_best["curl+sha256sum"];
    std::printf("\nbest of each (MB/s): kva download %.0f, bare libcurl loop %.0f, curl then sha256sum %.0f\n", ours,
                bare, tool);
    if (bare > 0 && tool > 0)
        std::printf("kva / bare loop = %.2f (target >= 0.90), kva / curl+sha256sum = %.2f (target >= 1.50)\n",
                    ours / bare, ours / tool);
    std::printf("resident memory growth during our download: %.1f MiB (target < 32)\n", g_rssGrowthMiB);
    fs::remove_all(kWork);
    return 0;
}
