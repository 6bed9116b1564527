#include "rip/DatabaseLookup.h"

#include <curl/curl.h>

#include <cstddef>
#include <memory>

namespace rip {

namespace {

constexpr std::size_t kLargestFile = 1 << 20;

struct Received {
    std::vector<unsigned char>* body;
    bool tooLarge = false;
};

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* context) {
    auto* received = static_cast<Received*>(context);
    const std::size_t n = size * count;
    if (received->body->size() + n > kLargestFile) {
        received->tooLarge = true;
        return 0; // ends the transfer
    }
    received->body->insert(received->body->end(), data, data + n);
    return n;
}

} // namespace

LookupResult FetchDbar(const std::string& address, const std::string& path, long timeoutSeconds) {
    LookupResult result;
    // Initialised once for the process, before any thread could start a second transfer.
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (!initialised) {
        result.why = "the HTTP library could not start";
        return result;
    }
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) {
        result.why = "the HTTP library could not start";
        return result;
    }
    std::string url = address;
    if (!url.empty() && url.back() != '/') {
        url += '/';
    }
    url += path;
    Received received{&result.body};
    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &received);
    curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, timeoutSeconds);
    curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT, timeoutSeconds);
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L); // no SIGALRM for name look-ups in a threaded program
    curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_MAXREDIRS, 3L);
    curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl.get(), CURLOPT_USERAGENT, "quellwave-cli");
    const CURLcode code = curl_easy_perform(curl.get());
    if (received.tooLarge) {
        result.body.clear();
        result.why = "the database's answer is larger than any disc's file";
        return result;
    }
    if (code != CURLE_OK) {
        result.body.clear();
        result.why = errorText[0] != 0 ? errorText : curl_easy_strerror(code);
        return result;
    }
    long status = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status == 404) {
        result.body.clear();
        result.outcome = LookupResult::kNotInDatabase;
        return result;
    }
    if (status != 200) {
        result.body.clear();
        result.why = "the database answered with HTTP status " + std::to_string(status);
        return result;
    }
    result.outcome = LookupResult::kFound;
    return result;
}

} // namespace rip
