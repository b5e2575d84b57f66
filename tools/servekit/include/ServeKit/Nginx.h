// nginx serving a folder on a free loopback port, for the tests and benchmarks that check our
// client against a stock web server. In the foreground, as our child; stopped with the object.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "kva/platform/Process.h"

class CNginx {
public:
    CNginx() = default;
    CNginx(const CNginx&) = delete;
    CNginx& operator=(const CNginx&) = delete;
    ~CNginx() { Stop(); }

    // Serves `root` with its configuration, logs and temporary files in `work`; `serverLines` go
    // inside the server block (e.g. "location /slow/ { limit_rate 64k; }"). True once it answers.
    bool Start(const std::filesystem::path& root, const std::filesystem::path& work, const std::string& serverLines,
               std::string* error);
    void Stop();
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_port); }

private:
    bool StartOn(std::uint16_t port, const std::filesystem::path& root, const std::filesystem::path& work,
                 const std::string& serverLines, std::string* error);

    plat::CChildProcess m_child;
    std::uint16_t m_port = 0;
    bool m_running = false;
};
