#include "shared/QL_SoftwareUpdate.h"

#include "platform/Alert.h"
#include "platform/Bundle.h"
#include "platform/Log.h"
#include "platform/PropertyList.h"
#include "platform/URLConnection.h"
#include "platform/Workspace.h"
#include "shared/QL_PanePath.h"

#include <QLocale>
#include <QRegularExpression>

#include <atomic>
#include <cmath>
#include <memory>
#include <system_error>
#include <thread>

const QString QLDefaultUpdateFeedURL = QStringLiteral("https://www.orvane.com/quillo/quillo.plist");

namespace {

constexpr double feedTimeout = 5.0;             // seconds, the whole transfer
constexpr qint64 maximumFeedSize = 1024 * 1024; // far above any real feed
constexpr int maximumFeedRedirects = 3;
// Longer feed values are not versions or addresses; they count as missing (a huge one
// would otherwise stall the main thread in the alert).
constexpr qsizetype maximumVersionLength = 1024;
constexpr qsizetype maximumAddressLength = 2048;

std::atomic<int> running{0};

std::shared_ptr<const platform::Bundle> paneBundle() {
    const std::optional<QString> path = pathToPreferencePane();
    return path ? platform::Bundle::bundleWithPath(*path) : nullptr;
}

// The leading decimal number of a text ("1.1.1" reads as 1.1, " 2b" as 2); nothing
// when the text does not begin with one.
std::optional<double> leadingNumber(const QString& text) {
    static const QRegularExpression number(
        QStringLiteral("^\\s*([+-]?(?:\\d+(?:\\.\\d*)?|\\.\\d+)(?:[eE][+-]?\\d+)?)"));
    const QRegularExpressionMatch match = number.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const double value = QLocale::c().toDouble(match.captured(1), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// A version as the feed gives it: the text to show, and its number when it has one.
struct FeedVersion {
    QString description;
    std::optional<double> number;
};

// Only a text or a number is a version; anything else counts as missing.
std::optional<FeedVersion> versionFrom(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::QString:
        if (value.toString().size() > maximumVersionLength)
            return std::nullopt;
        return FeedVersion{value.toString(), leadingNumber(value.toString())};
    case QMetaType::LongLong:
        return FeedVersion{QString::number(value.toLongLong()), value.toDouble()};
    case QMetaType::Double: {
        const double d = value.toDouble();
        return FeedVersion{QString::number(d, 'g', QLocale::FloatingPointShortest),
                           std::isfinite(d) ? std::optional<double>(d) : std::nullopt};
    }
    default:
        return std::nullopt;
    }
}

std::optional<QString> textFrom(const QVariant& value) {
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

std::optional<QString> addressFrom(const QVariant& value) {
    const std::optional<QString> text = textFrom(value);
    if (!text || text->size() > maximumAddressLength)
        return std::nullopt;
    return text;
}

double installedVersionOf(const platform::Bundle* pane) {
    if (!pane)
        return 0.0;
    const QVariant version = pane->infoDictionary().value(QStringLiteral("CFBundleVersion"));
    switch (version.typeId()) {
    case QMetaType::QString:
        return leadingNumber(version.toString()).value_or(0.0);
    case QMetaType::LongLong:
    case QMetaType::Double:
        return std::isfinite(version.toDouble()) ? version.toDouble() : 0.0;
    default:
        return 0.0;
    }
}

// Each text is looked up afresh: an alert is rare, and the pane may have moved.
QString text(const char* key) {
    return QL_LocalizedString(QString::fromLatin1(key));
}

platform::AlertButton showAlert(platform::AlertStyle style, const QString& title,
                                const QString& message, const QStringList& buttons) {
    return platform::runModalAlert(platform::Alert{style, title, message, buttons});
}

// A feed is text from the network: only web addresses go to the desktop, never a
// local file, a script or another scheme's handler.
void openFromFeed(const QString& address) {
    const QUrl url(address, QUrl::StrictMode);
    if (!platform::isSafeToOpen(url, false)) {
        platform::NSLog(QStringLiteral("Quillo :: checkForUpdatesAndNotify :: refusing to open ") +
                        address);
        return;
    }
    platform::Workspace::sharedWorkspace().openURL(url);
}

} // namespace

void QL_SoftwareUpdate::checkForUpdatesWithNotification(bool notify) const {
    ++running;
    try {
        // The thread works on its own copy, so the caller may drop this object at once.
        std::thread([checker = *this, notify] {
            checker.checkForUpdatesAndNotify(notify);
            --running;
        }).detach();
    } catch (const std::system_error&) {
        --running;
        platform::NSLog(QStringLiteral(
            "Quillo :: checkForUpdatesWithNotification :: could not start the check"));
    }
}

void QL_SoftwareUpdate::checkForUpdatesAndNotify(bool notify) const {
    const QVariantMap feed =
        dictionaryFromNSURLConnectionWithURL(updateFeedURL()).value_or(QVariantMap());
    const std::optional<FeedVersion> latest =
        versionFrom(feed.value(QStringLiteral("newVersionNumber")));
    const std::optional<QString> productURL =
        addressFrom(feed.value(QStringLiteral("newProductURL")));
    const std::optional<QString> downloadURL =
        addressFrom(feed.value(QStringLiteral("newDownloadURL")));
    const double current = installedVersion();

    platform::NSLog(QString::asprintf("Quillo :: checkForUpdatesAndNotify :: Current Version: %f, "
                                      "Latest Version: ",
                                      current) +
                    (latest ? latest->description : QStringLiteral("(null)")));

    if (latest && latest->number && productURL && downloadURL) {
        const double newest = *latest->number;
        if (current >= newest && notify) {
            showAlert(platform::AlertStyle::Informational, text("SOFTWARE_UP_TO_DATE_TITLE"),
                      text("SOFTWARE_UP_TO_DATE_TEXT"), {text("OK_BUTTON")});
            return;
        }
        if (newest > current) {
            QString message = text("SOFTWARE_NEW_VERSION_TEXT");
            if (message.contains(QStringLiteral("%1")))
                message = message.arg(latest->description);
            const platform::AlertButton chosen = showAlert(
                platform::AlertStyle::Informational, text("SOFTWARE_NEW_VERSION_TITLE"), message,
                {text("SOFTWARE_NEW_VERSION_DOWNLOAD"),
                 text("SOFTWARE_NEW_VERSION_MORE_INFORMATION"),
                 text("SOFTWARE_NEW_VERSION_IGNORE")});
            if (chosen == platform::AlertFirstButton)
                openFromFeed(*downloadURL);
            else if (chosen == platform::AlertSecondButton)
                openFromFeed(*productURL);
            return;
        }
    }
    if (notify)
        showAlert(platform::AlertStyle::Critical, text("ERROR_UPDATE_TITLE"),
                  text("ERROR_UPDATE_TEXT"), {text("OK_BUTTON")});
}

std::optional<QByteArray> QL_SoftwareUpdate::dataFromNSURLConnectionWithURL(const QUrl& url) {
    if (url.isEmpty())
        return std::nullopt;
    platform::URLRequest request;
    request.url = url;
    request.cachePolicy = platform::URLRequestCachePolicy::ReloadIgnoringCacheData;
    request.timeoutInterval = feedTimeout;
    request.maximumBodySize = maximumFeedSize;
    request.maximumRedirects = maximumFeedRedirects;
    return platform::sendSynchronousRequest(request);
}

std::optional<QVariantMap>
QL_SoftwareUpdate::dictionaryFromNSURLConnectionWithURL(const QUrl& url) {
    const std::optional<QByteArray> bytes = dataFromNSURLConnectionWithURL(url);
    if (!bytes)
        return std::nullopt;
    const std::optional<QVariant> root = platform::PropertyList::fromData(*bytes);
    if (!root || root->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return root->toMap();
}

double QL_SoftwareUpdate::installedVersion() {
    return installedVersionOf(paneBundle().get());
}

QUrl QL_SoftwareUpdate::updateFeedURL() {
    if (const std::shared_ptr<const platform::Bundle> pane = paneBundle()) {
        if (const std::optional<QString> named =
                textFrom(pane->infoDictionary().value(QStringLiteral("QLUpdateFeedURL")));
            named && !named->isEmpty())
            return QUrl(*named, QUrl::StrictMode);
    }
    return QUrl(QLDefaultUpdateFeedURL, QUrl::StrictMode);
}

int QL_SoftwareUpdate::checksInProgress() {
    return running.load();
}
