#include "Fetch.h"

#include <curl/curl.h>

#include <memory>

namespace kvadl {

namespace {

struct Sink {
    std::string* body;
    std::size_t limit;
    bool tooLarge = false;
};

size_t OnData(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const size_t n = size * count;
    if (sink->body->size() + n > sink->limit) {
        sink->tooLarge = true;
        return 0;  // aborts the transfer: nothing past the limit is read
    }
    sink->body->append(data, n);
    return n;
}

}  // namespace

void EnsureCurlGlobal() {
    static const bool done = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
    (void)done;
}

std::string FileUrlPath(const std::string& url) {
    static const std::string prefix = "file://";
    if (url.compare(0, prefix.size(), prefix) != 0) return {};
    return url.substr(prefix.size());
}

CurlHandle NewTransfer(const std::string& url, char* errbuf, long connectTimeoutMs) {
    EnsureCurlGlobal();
    CurlHandle curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) return curl;
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https,file");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, connectTimeoutMs);
    curl_easy_setopt(h, CURLOPT_NOPROXY, "127.0.0.1,localhost");
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errbuf);
    return curl;
}

FetchResult Fetch(const std::string& url, std::size_t limit, long timeoutMs, const std::string* postBody) {
    FetchResult r;
    char errbuf[CURL_ERROR_SIZE] = {};
    CurlHandle curl = NewTransfer(url, errbuf, std::min(timeoutMs, 15000L));
    if (!curl) {
        r.error = "cannot create a transfer";
        return r;
    }
    Sink sink{&r.body, limit};
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnData);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    curl_slist* headers = nullptr;
    if (postBody) {
        headers = curl_slist_append(headers, "Content-Type: application/json");
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, postBody->c_str());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(postBody->size()));
    }
    const CURLcode rc = curl_easy_perform(h);
    curl_slist_free_all(headers);
    r.tooLarge = sink.tooLarge;
    if (rc != CURLE_OK) {
        r.peerRefused = rc == CURLE_PEER_FAILED_VERIFICATION || rc == CURLE_SSL_CACERT_BADFILE ||
                        rc == CURLE_SSL_ISSUER_ERROR;
        r.error = sink.tooLarge ? "answer larger than " + std::to_string(limit) + " bytes"
                                : std::string(*errbuf ? errbuf : curl_easy_strerror(rc));
        return r;
    }
    r.transferred = true;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &r.status);
    if (r.status == 0 && !FileUrlPath(url).empty()) r.status = 200;
    return r;
}

}  // namespace kvadl
