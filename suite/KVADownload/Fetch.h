// Small transfers of the library (catalogue, signature, reports, the network probe) with libcurl.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <memory>
#include <string>

namespace kvadl {

struct FetchResult {
    bool transferred = false;  // a complete answer came (any HTTP status)
    long status = 0;           // HTTP status; 200 for a file:// read that succeeded
    bool tooLarge = false;     // the body passed `limit` and was cut off
    bool peerRefused = false;  // the server answered, but its TLS certificate did not verify
    std::string body;
    std::string error;         // why nothing (or only part) came
};

// GET (or POST `postBody` as JSON when given) with a body limit and a time-out in milliseconds.
// Only http, https and file URLs are followed.
FetchResult Fetch(const std::string& url, std::size_t limit, long timeoutMs, const std::string* postBody = nullptr);

// libcurl global set-up, once per process, before any handle.
void EnsureCurlGlobal();

// A transfer of `url` as every transfer of the library makes it: http, https and file only (and
// redirects to http and https only, at most 5), no signals, no proxy for loopback, errors in
// `errbuf` (CURL_ERROR_SIZE bytes, kept alive by the caller). Null when libcurl cannot make one.
using CurlHandle = std::unique_ptr<CURL, void (*)(CURL*)>;
CurlHandle NewTransfer(const std::string& url, char* errbuf, long connectTimeoutMs);

// A file:// URL's path on the host, or empty.
std::string FileUrlPath(const std::string& url);

}  // namespace kvadl
