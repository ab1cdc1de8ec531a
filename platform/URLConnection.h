#pragma once

#include <QByteArray>
#include <QUrl>

#include <optional>

namespace platform {

enum class URLRequestCachePolicy {
    // Whatever caches between here and the server decide.
    UseProtocolCachePolicy,
    // Asks every cache on the way for a fresh answer ("Cache-Control: no-cache").
    ReloadIgnoringCacheData,
};

// One GET of an http or https address.
struct URLRequest {
    QUrl url;
    URLRequestCachePolicy cachePolicy = URLRequestCachePolicy::UseProtocolCachePolicy;
    // Seconds for the whole transfer: connecting, redirects and the body.
    double timeoutInterval = 60.0;
    // A longer body fails the request; reading stops at the limit.
    qint64 maximumBodySize = 1024 * 1024;
    // Redirects are followed only to http and https addresses, at most this many.
    int maximumRedirects = 3;
};

// An address a request may go to, and that is safe to hand to a browser: a valid http
// or https address with a host.
bool isWebAddress(const QUrl& url);

// An address from a file or a feed that may be handed to the desktop: a web address,
// or, where mail is allowed, a mailto: address. Never a local file, a script or another
// scheme's handler.
bool isSafeToOpen(const QUrl& url, bool mailAllowed);

// The synchronous request: sends the request on the calling thread and waits. The body
// of a final "200" answer, or nothing on any other status, a failed or timed-out
// transfer, a body over the limit, a redirect too many or to another scheme, or an
// address that is not http or https. Safe to call from several threads at once.
std::optional<QByteArray> sendSynchronousRequest(const URLRequest& request);

} // namespace platform
