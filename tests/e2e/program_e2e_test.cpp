// The whole program in the page engine: page commands sent from the pages' script, page events seen
// in the pages' documents, and the effects read back from the simulated devices and the files on
// disk. How the pages serve a user is in pages_e2e_test.cpp.
#include "app/application.h"
#include "app/private_temp.h"
#include "app/start_snapshot.h"
#include "app/system_tray.h"
#include "app/window.h"
#include "cefclient/client_handler.h"
#include "cefclient/popwidget.h"
#include "cefclient/qcefwebview.h"

#include "page_driver.h"
#include "test_files.h"
#include "wait.h"
#include "windows.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardPaths>
#include <QWebEngineView>

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace e2e;
using test_support::waitFor;

TEST_F(ProgramTest, TheStartPageComesFromThePackageAndIsDrawn)
{
    CefRefPtr<CefBrowser> browser = window->webView()->GetBrowser();
    ASSERT_TRUE(browser);
    EXPECT_EQ(browser->GetMainFrame()->GetURL().ToString(), kStartPage);
    EXPECT_TRUE(browser->IsSame(g_handler->GetBrowser()));
    // The page engine shows the bundled start page, unpacked from skn.dat beside the program.
    EXPECT_TRUE(QFileInfo(QCoreApplication::applicationDirPath() + "/skn.dat").isFile());
    const QByteArray unpacked = test_support::readFile(privateTempPath() + "/template/main/index.html");
    EXPECT_TRUE(unpacked.contains("<title>TarquilMervane</title>"));
    EXPECT_EQ(text(page, "document.title"), "TarquilMervane");
    // Its style sheet applies and its logo is there.
    EXPECT_EQ(text(page, "getComputedStyle(document.body).backgroundColor"), "rgb(34, 37, 41)");
    EXPECT_TRUE(waitFor([&] { return eval(page, "document.querySelector('.titlebar img').naturalWidth").toInt() > 0; }));

    // A picture of the window once it has settled, as the headless run takes it, kept beside the
    // test: it is not one flat colour.
    const QString kept = QString(TM_E2E_OUTPUT_DIR) + "/start-page.png";
    QFile::remove(kept);
    int saved = -1;
    snapshotStartPage(kept, kLoadMs, [&](bool ok) { saved = ok; });
    ASSERT_TRUE(waitFor([&] { return saved >= 0; }, kLoadMs + 5000));
    EXPECT_EQ(saved, 1);
    const QImage picture(kept);
    EXPECT_EQ(picture.size(), window->size() * window->devicePixelRatioF());
    EXPECT_TRUE(imageHasContent(picture));
}

TEST_F(ProgramTest, TheDeviceListAnswersTheSimulatedDevices)
{
    EXPECT_EQ(query(page, command({{"FuncName", "GetDevicesList"}})), R"(S:["K1.0","M1.0"])");
}

TEST_F(ProgramTest, DeviceWritesReachTheSimulatedDevices)
{
    ASSERT_TRUE(sim().loaded());
    EXPECT_EQ(query(page, command({{"FuncName", "WriteDevice"}, {"Version", "M1.0"}, {"DriverVersion", "M1.0"},
                                   {"Index", "66"}, {"Task", "0x03,0x00,0xCD,0x00"}, {"TaskType", "MultiMedia"},
                                   {"TaskCount", "1"}})),
              "S:writeDevices success!");
    uint8_t prop[64] = {};
    ASSERT_EQ(sim().getProp(kMouseId, 66, prop, sizeof prop), 4);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(prop), 4), QByteArray::fromHex("0300CD00"));

    EXPECT_EQ(query(page, command({{"FuncName", "WriteRGBDevice"}, {"Version", "K1.0"}, {"DriverVersion", "K1.0"},
                                   {"Data", R"(["Esc#123456","F1#ABCDEF"])"}})),
              R"(S:Esc#123456","F1#ABCDEF)");
    QByteArray report(1024, '\0');
    ASSERT_EQ(sim().lastRgb("K1.0", nullptr, reinterpret_cast<uint8_t*>(report.data())), 1);
    EXPECT_TRUE(report.contains(QByteArray::fromHex("123456")));
    EXPECT_TRUE(report.contains(QByteArray::fromHex("ABCDEF")));
}

TEST_F(ProgramTest, ADeviceAddedReachesThePageThroughItsEvent)
{
    ASSERT_TRUE(sim().loaded());
    const char id[] = "HID\\VID_1A2C&PID_0E40&MI_01\\7&3A4B5C6D&0&0000";
    ASSERT_GE(sim().addDevice((std::string("Version=M2.0\nDeviceId=") + id + "\n").c_str()), 3);
    // The page refreshes its list on "devicesChanged" alone.
    EXPECT_TRUE(waitFor([&] { return devicesShown(page) == "K1.0,M1.0,M2.0"; })) << devicesShown(page).toStdString();
    EXPECT_EQ(statusLine(page), "The attached devices changed.");
    ASSERT_EQ(sim().removeDevice(id), 0);
    EXPECT_TRUE(waitFor([&] { return devicesShown(page) == "K1.0,M1.0"; })) << devicesShown(page).toStdString();
}

TEST_F(ProgramTest, APopupViewTalksToTheMainPage)
{
    send(page, command({{"FuncName", "OpenView"}, {"Url", kPopupPage}, {"width", 460}, {"height", 440}}));
    PopWidget* popup = nullptr;
    ASSERT_TRUE(waitFor([&] {
        popup = window->popups().value(kPopupPage);
        return popup && popup->isVisible() && engineViewOf(popup->webView());
    }));
    EXPECT_EQ(popup->size(), QSize(460, 440));
    // It carries the program's title and opens over the middle of the program's window, as far as
    // the screen lets it.
    EXPECT_EQ(popup->windowTitle(), window->windowTitle());
    EXPECT_FALSE(popup->windowTitle().isEmpty());
    const QRect area = window->screen()->availableGeometry();
    QRect expected(QPoint(), popup->size());
    expected.moveCenter(window->frameGeometry().center());
    expected.moveLeft(qBound(area.left(), expected.left(), area.right() + 1 - expected.width()));
    expected.moveTop(qBound(area.top(), expected.top(), area.bottom() + 1 - expected.height()));
    EXPECT_LE((popup->frameGeometry().topLeft() - expected.topLeft()).manhattanLength(), 2)
        << popup->x() << "," << popup->y() << " for " << expected.x() << "," << expected.y();
    // Shown, it is the active window, also without a window manager to activate it.
    EXPECT_TRUE(waitFor([&] { return window->activePopup() == popup; }));
    QWebEngineView* popupPage = engineViewOf(popup->webView());
    ASSERT_TRUE(waitFor([&] {
        return eval(popupPage, QString("location.href === '%1' && document.readyState === 'complete'"
                                       " && typeof window.cefQuery === 'function'")
                                   .arg(kPopupPage))
            .toBool();
    }, kLoadMs));
    ASSERT_TRUE(popup->webView()->GetBrowser());
    EXPECT_FALSE(popup->webView()->GetBrowser()->IsSame(window->webView()->GetBrowser()));

    EXPECT_EQ(query(popupPage, command({{"FuncName", "SendMsgToMainBrowser"}, {"url", kStartPage},
                                        {"msg", "hello from the popup"}})),
              "S:SendMsgToMainBrowser success");
    EXPECT_TRUE(waitFor([&] { return statusLine(page) == "Message: hello from the popup"; }));
}

TEST_F(ProgramTest, TheTitleAreaMovesAndHidesTheWindow)
{
    const QPoint before = window->pos();
    const QSize size = window->size();
    EXPECT_EQ(query(page, QString("MoveWindow:30,20,%1,%2").arg(size.width()).arg(size.height())), "S:");
    EXPECT_TRUE(waitFor([&] { return window->pos() == before + QPoint(30, 20); }))
        << window->pos().x() << "," << window->pos().y();
    EXPECT_EQ(window->size(), size);

    // The close button hides the window to the tray; the program runs on.
    send(page, command({{"FuncName", "CloseX"}}));
    EXPECT_TRUE(waitFor([&] { return window->isHidden(); }));
    EXPECT_FALSE(isQuitRequested());
    EXPECT_EQ(appMainWindow(), window);
    EXPECT_EQ(query(page, command({{"FuncName", "GetDevicesList"}})), R"(S:["K1.0","M1.0"])");
    // A click on the tray icon brings it back.
    emit window->tray()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(ProgramTest, QuittingWritesTheChangedPageFilesBack)
{
    // A page file below the program's folder, of this run alone.
    const QString folder = QString("e2e-%1").arg(QCoreApplication::applicationPid());
    QDir programDir(QCoreApplication::applicationDirPath());
    ASSERT_TRUE(programDir.mkpath(folder));
    const QString file = programDir.filePath(folder + "/settings.xml");
    ASSERT_TRUE(test_support::writeFile(file, "<Configuration><Key Index=\"1\" Value=\"a\"/></Configuration>\n"));

    EXPECT_EQ(query(page, command({{"FuncName", "ReadFileToStr"}, {"FilePath", folder + "/settings.xml"},
                                   {"Xpath", "//Key"}})),
              "S:<Key Index=\"1\" Value=\"a\" />\n");
    EXPECT_EQ(query(page, command({{"FuncName", "ModifyFileFromStr"}, {"FilePath", folder + "/settings.xml"},
                                   {"ContentStr", "<Configuration><Key Index=\"1\" Value=\"b\"/></Configuration>"}})),
              "S:ModifyFileFromStr success");
    // Kept in the program until it quits.
    EXPECT_TRUE(test_support::readFile(file).contains("Value=\"a\""));

    window->tray()->contextMenu()->actions().last()->trigger();
    EXPECT_TRUE(isQuitRequested());
    const QByteArray written = test_support::readFile(file);
    QDir(programDir.filePath(folder)).removeRecursively();
    EXPECT_TRUE(written.contains("Value=\"b\"")) << written.constData();
}

int g_releases = 0;

LRESULT CALLBACK countReleases(int code, WPARAM wParam, LPARAM lParam)
{
    if (wParam == WM_LBUTTONUP)
        ++g_releases;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// On an X11 desktop (the xcb platform), with the real pointer moved and clicked by xdotool.
TEST_F(ProgramTest, TheRecorderAnswersRealClicksOutsideTheWindow)
{
    if (QGuiApplication::platformName() != "xcb" || QStandardPaths::findExecutable("xdotool").isEmpty())
        GTEST_SKIP() << "needs the xcb platform and xdotool";
    EXPECT_EQ(query(page, command({{"FuncName", "mouseTracks"}, {"status", "开始"}})), "S:mouseTracks success");
    // A hook of the test's own, installed after the recorder's, sees each release first and passes it on.
    HHOOK counter = SetWindowsHookExW(WH_MOUSE_LL, &countReleases, GetModuleHandleW(nullptr), 0);
    ASSERT_TRUE(counter);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QPoint points[] = {screen.topLeft() + QPoint(20, 30), screen.bottomRight() - QPoint(40, 50)};
    for (const QPoint& p : points) {
        ASSERT_FALSE(window->frameGeometry().contains(p));
        const int before = g_releases;
        ASSERT_EQ(QProcess::execute("xdotool", {"mousemove", QString::number(p.x()), QString::number(p.y()), "click", "1"}),
                  0);
        ASSERT_TRUE(waitFor([&] { return g_releases > before; }));
    }
    EXPECT_TRUE(UnhookWindowsHookEx(counter));
    const QString answer = query(page, command({{"FuncName", "mouseTracks"}, {"status", "停止"}}));
    const QString pattern = QString("^S:x:%1,y:%2Time:\\d+;x:%3,y:%4Time:\\d+;$")
                                .arg(points[0].x())
                                .arg(points[0].y())
                                .arg(points[1].x())
                                .arg(points[1].y());
    EXPECT_TRUE(QRegularExpression(pattern).match(answer).hasMatch()) << answer.toStdString();
}

} // namespace
