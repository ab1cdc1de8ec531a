#include "platform/URLConnection.h"

#include <curl/curl.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>

namespace platform {
namespace {

void initialiseOnce() {
    // The library's global set-up is not safe to run twice at once.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyFree {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct Body {
    QByteArray bytes;
    qint64 limit = 0;
    bool overLimit = false;
};

size_t appendToBody(char* data, size_t size, size_t count, void* user) {
    auto* body = static_cast<Body*>(user);
    const size_t length = size * count;
    if (qint64(length) > body->limit - body->bytes.size()) {
        // Anything but the full length ends the transfer with a write error.
        body->overLimit = true;
        return 0;
    }
    body->bytes.append(data, qsizetype(length));
    return length;
}

} // namespace

bool isWebAddress(const QUrl& url) {
    const QString scheme = url.scheme();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

bool isSafeToOpen(const QUrl& url, bool mailAllowed) {
    if (isWebAddress(url))
        return true;
    return mailAllowed && url.isValid() && url.scheme() == QLatin1String("mailto") &&
           !url.path().isEmpty() && url.host().isEmpty();
}

std::optional<QByteArray> sendSynchronousRequest(const URLRequest& request) {
    if (!isWebAddress(request.url) || !(request.timeoutInterval > 0) ||
        request.maximumBodySize < 0 || request.maximumRedirects < 0)
        return std::nullopt;
    initialiseOnce();
    const std::unique_ptr<CURL, EasyFree> curl(curl_easy_init());
    if (!curl)
        return std::nullopt;
    CURL* c = curl.get();

    const QByteArray address = request.url.toEncoded();
    const long timeoutMs = std::lround(std::min(request.timeoutInterval * 1000.0, 86400000.0));
    Body body;
    body.limit = request.maximumBodySize;

    std::unique_ptr<curl_slist, ListFree> headers;
    if (request.cachePolicy == URLRequestCachePolicy::ReloadIgnoringCacheData) {
        curl_slist* list = curl_slist_append(nullptr, "Cache-Control: no-cache");
        if (list)
            list = curl_slist_append(list, "Pragma: no-cache");
        if (!list)
            return std::nullopt;
        headers.reset(list);
    }

    bool set = curl_easy_setopt(c, CURLOPT_URL, address.constData()) == CURLE_OK &&
               curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
               curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK &&
               curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
               curl_easy_setopt(c, CURLOPT_MAXREDIRS, long(request.maximumRedirects)) == CURLE_OK &&
               curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, timeoutMs) == CURLE_OK &&
               // Time-outs by signal do not mix with other threads.
               curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
               curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE,
                                curl_off_t(request.maximumBodySize)) == CURLE_OK &&
               curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, appendToBody) == CURLE_OK &&
               curl_easy_setopt(c, CURLOPT_WRITEDATA, &body) == CURLE_OK;
    if (set && headers)
        set = curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK;
    if (!set)
        return std::nullopt;

    if (curl_easy_perform(c) != CURLE_OK || body.overLimit)
        return std::nullopt;
    long status = 0;
    if (curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200)
        return std::nullopt;
    return body.bytes;
}

} // namespace platform
