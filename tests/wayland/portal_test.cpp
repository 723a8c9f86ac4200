// The desktop portal's screenshot, asked of a stand-in portal on this test's own session bus (run
// under dbus-run-session): the answers a real portal gives, and the ones it may never give.
#include "imaging/picture_loader.h"
#include "platform/wayland/portal_screenshot.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QThread>
#include <QVariantMap>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>

using namespace std::chrono_literals;
using tarnwick::platform::wayland::localPathOfUri;
using tarnwick::platform::wayland::portalScreenshot;

namespace {

// The request object a screenshot opens: the portal's dialog, which Close takes away.
class FakeRequest : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")
public:
    bool closed = false;
public slots:
    void Close() { closed = true; }
};

// Answers Screenshot as a quick portal does: the Response signal even before the request's path;
// or, with no `code`, never.
class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Screenshot")
public:
    explicit FakePortal(QDBusConnection bus) : bus_(std::move(bus)) {}
    std::optional<uint> code;
    QString uri;
    QVariantMap options;
    FakeRequest request;

public slots:
    QDBusObjectPath Screenshot(const QString&, const QVariantMap& asked, const QDBusMessage& call) {
        options = asked;
        const QString handle = "/org/freedesktop/portal/desktop/request/" +
                               call.service().mid(1).replace('.', '_') + "/" +
                               asked.value("handle_token").toString();
        bus_.registerObject(handle, &request, QDBusConnection::ExportAllSlots);
        if (code) {
            QDBusMessage response =
                QDBusMessage::createSignal(handle, "org.freedesktop.portal.Request", "Response");
            response << *code << QVariantMap{{"uri", uri}};
            bus_.send(response);
        }
        return QDBusObjectPath(handle);
    }

private:
    QDBusConnection bus_;
};

class PortalScreenshot : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus.isConnected()) << "run under dbus-run-session";
        ASSERT_TRUE(bus.registerService("org.freedesktop.portal.Desktop"));
        ASSERT_TRUE(bus.registerObject("/org/freedesktop/portal/desktop", &portal,
                                       QDBusConnection::ExportAllSlots));
    }
    void TearDown() override {
        bus.unregisterObject("/org/freedesktop/portal/desktop");
        bus.unregisterService("org.freedesktop.portal.Desktop");
    }

    // The portal on a connection of its own, as a separate program would be.
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "portal");
    FakePortal portal{bus};
    std::string why;
};

TEST_F(PortalScreenshot, TheFileTheUriNamesByteForByteWithoutADialog) {
    portal.code = 0;
    portal.uri = "file:///tmp/shot%20one%FF.png";
    EXPECT_EQ(portalScreenshot(5s, why), std::optional<std::string>("/tmp/shot one\xFF.png"))
        << why;
    EXPECT_EQ(portal.options.value("interactive"), QVariant(false));
}

TEST_F(PortalScreenshot, ARefusalOrNoAnswerGivesNoFileAndClosesTheDialog) {
    portal.code = 1;
    EXPECT_EQ(portalScreenshot(5s, why), std::nullopt);
    EXPECT_EQ(why, "the screenshot was refused");

    portal.code.reset();
    EXPECT_EQ(portalScreenshot(300ms, why), std::nullopt);
    EXPECT_EQ(why, "the desktop portal did not answer in time");
    QCoreApplication::processEvents(); // the Close call is not waited for
    for (int i = 0; i < 100 && !portal.request.closed; ++i) {
        QThread::msleep(10);
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(portal.request.closed);
}

TEST(PortalScreenshotAbsent, NoPortalOnTheBusIsSaidAtOnce) {
    std::string why;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(portalScreenshot(20s, why), std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 10s)
        << "waited for a portal that is not there";
    EXPECT_NE(why.find("takes no screenshot"), std::string::npos) << why;
}

TEST(PortalUri, OnlyALocalFileWithSoundEscapes) {
    EXPECT_EQ(localPathOfUri("file://localhost/a%2fb"), std::optional<std::string>("/a/b"));
    for (const char* uri : {"https://example.org/a.png", "file://host/a.png", "file:///a%00.png",
                            "file:///a%4.png", "file:a.png"})
        EXPECT_EQ(localPathOfUri(uri), std::nullopt) << uri;
}

// A real portal, run by the headless-sway test, which names the desktop's size in
// TARNWICK_REAL_PORTAL ("WxH"): outputs 640 wide, each blue on its left and yellow on its right.
TEST(RealPortal, ItsScreenshotIsTheDesktop) {
    const char* size = std::getenv("TARNWICK_REAL_PORTAL");
    int width = 0, height = 0;
    if (!size || std::sscanf(size, "%dx%d", &width, &height) != 2)
        GTEST_SKIP() << "no real portal: run by sway_test.sh";
    std::string why;
    // The first call starts the portal and its back ends: seconds on a loaded machine.
    const auto path = portalScreenshot(30s, why);
    ASSERT_TRUE(path) << why;
    const auto shot = tarnwick::LoadPicture(*path, {}, tarnwick::PictureFormats::WithPngWebp);
    ASSERT_EQ(shot->width(), width);
    ASSERT_EQ(shot->height(), height);
    const auto near = [&](int x, uint32_t rgb) {
        const uint8_t* p = shot->data() + shot->stride() * 240 + 3 * x;
        return std::abs(p[2] - int(rgb >> 16)) < 8 && std::abs(p[1] - int(rgb >> 8 & 255)) < 8 &&
               std::abs(p[0] - int(rgb & 255)) < 8;
    };
    EXPECT_TRUE(near(100, 0x3070A0)) << "left half not blue";
    EXPECT_TRUE(near(540, 0xD0B040)) << "right half not yellow";
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "portal_test.moc"
