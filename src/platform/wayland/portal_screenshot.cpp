#include "platform/wayland/portal_screenshot.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QEventLoop>
#include <QTimer>
#include <QVariantMap>

#include <unistd.h>

namespace tarnwick::platform::wayland {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");

// Waits for the portal's answer on one request object.
class Answer : public QObject {
    Q_OBJECT
public:
    explicit Answer(QDBusConnection bus) : bus_(std::move(bus)) {}
    ~Answer() override { listen({}); }

    // Follows the request at `handle` (none when empty).
    void listen(const QString& handle) {
        if (!handle_.isEmpty())
            bus_.disconnect(kService, handle_, kRequest, "Response", this,
                            SLOT(response(uint, QVariantMap)));
        handle_ = handle;
        if (!handle_.isEmpty())
            bus_.connect(kService, handle_, kRequest, "Response", this,
                         SLOT(response(uint, QVariantMap)));
    }
    const QString& handle() const { return handle_; }

    QEventLoop loop;
    std::optional<uint> code;
    QVariantMap results;

public slots:
    void response(uint responseCode, const QVariantMap& responseResults) {
        code = responseCode;
        results = responseResults;
        loop.quit();
    }

private:
    QDBusConnection bus_;
    QString handle_;
};

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<std::string> localPathOfUri(const std::string& uri) {
    static const std::string scheme = "file://";
    if (uri.compare(0, scheme.size(), scheme) != 0) return std::nullopt;
    std::string rest = uri.substr(scheme.size());
    if (rest.compare(0, 9, "localhost") == 0) rest.erase(0, 9);
    if (rest.empty() || rest[0] != '/') return std::nullopt;
    std::string path;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != '%') {
            path += rest[i];
            continue;
        }
        const int hi = i + 2 < rest.size() ? hexValue(rest[i + 1]) : -1;
        const int lo = hi >= 0 ? hexValue(rest[i + 2]) : -1;
        if (lo < 0 || (hi == 0 && lo == 0)) return std::nullopt;
        path += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return path;
}

std::optional<std::string> portalScreenshot(std::chrono::milliseconds wait, std::string& why) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        why = "there is no session bus to reach the desktop portal";
        return std::nullopt;
    }
    // The portal names the request object after our bus name and this token; listening there
    // before asking means an answer that comes at once is not missed.
    static int serial = 0;
    const QString token = QStringLiteral("tarnwick%1_%2").arg(getpid()).arg(++serial);
    const QString sender = bus.baseService().mid(1).replace('.', '_');
    Answer answer(bus);
    answer.listen(kPath + "/request/" + sender + "/" + token);

    QDBusMessage call = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.portal.Screenshot"), "Screenshot");
    call << QString()
         << QVariantMap{{"handle_token", token}, {"interactive", false}, {"modal", false}};
    QDBusPendingCallWatcher pending(bus.asyncCall(call, static_cast<int>(wait.count())));
    QString callError;
    QObject::connect(&pending, &QDBusPendingCallWatcher::finished, [&] {
        const QDBusPendingReply<QDBusObjectPath> reply = pending;
        if (reply.isError()) {
            callError = reply.error().message();
            answer.loop.quit();
        } else if (reply.value().path() != answer.handle()) {
            // Portals older than the handle token choose the path themselves.
            answer.listen(reply.value().path());
        }
    });
    QTimer::singleShot(wait, &answer.loop, &QEventLoop::quit);
    answer.loop.exec(QEventLoop::ExcludeUserInputEvents);

    if (!callError.isEmpty()) {
        why = "the desktop portal takes no screenshot: " + callError.toStdString();
        return std::nullopt;
    }
    if (!answer.code) {
        // A dialog nobody answers while the user is away must not stay on the screen.
        bus.call(QDBusMessage::createMethodCall(kService, answer.handle(), kRequest, "Close"),
                 QDBus::NoBlock);
        why = "the desktop portal did not answer in time";
        return std::nullopt;
    }
    if (*answer.code != 0) {
        why = *answer.code == 1 ? "the screenshot was refused" : "the desktop portal failed";
        return std::nullopt;
    }
    const std::string uri = answer.results.value("uri").toString().toStdString();
    const std::optional<std::string> path = localPathOfUri(uri);
    if (!path) why = "the desktop portal gave no local file (" + uri + ")";
    return path;
}

} // namespace tarnwick::platform::wayland

#include "portal_screenshot.moc"
