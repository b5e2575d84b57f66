// A small HTTP/1.1 server for an update-service folder (see Catalogue.h for its layout), behind
// `kva serve` and the tests: loopback only, GET and HEAD with single byte ranges, POST /report
// appending upgrade-status reports to <root>/reports/upgrade-status.jsonl. One thread per
// connection (at most 64), one request per connection, bounded header size and time-outs, so a bad
// or idle client cannot hold it. Faults for tests apply to files under packages/ only:
//   drop-after=N  close every answer after N body bytes
//   stall         send half the body, then nothing until the client goes or the server stops
//   corrupt       flip one byte in the middle of every file
//   rate=N        send at most N bytes a second per connection (N may end in K or M), so a person
//                 can watch a download; combines with the others: "rate=1M,corrupt"
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

struct ServeFault {
    enum Kind { None, DropAfter, Stall, Corrupt } kind = None;
    std::uint64_t dropAfter = 0;
    std::uint64_t bytesPerSecond = 0;  // 0: as fast as the connection takes it
    // "drop-after=N", "stall", "corrupt", "rate=N", several joined by commas, or empty; false for
    // anything else.
    bool Parse(const std::string& text);
};

class CUpdateServer {
public:
    CUpdateServer();
    ~CUpdateServer();
    CUpdateServer(const CUpdateServer&) = delete;
    CUpdateServer& operator=(const CUpdateServer&) = delete;

    // Listens on 127.0.0.1:port (0 picks a free port). False with `error` when it cannot.
    bool Start(const std::filesystem::path& root, std::uint16_t port, ServeFault fault, std::string* error);
    std::uint16_t Port() const;
    std::string Url() const;  // "http://127.0.0.1:<port>"
    void SetFault(ServeFault fault);
    // Stops accepting, ends every connection (stalled ones too) and joins every thread.
    void Stop();
    std::uint64_t Requests() const;  // answered so far

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};
