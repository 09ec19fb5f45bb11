// The page commands, as a page sends them: the answer, the calls made and the reply callback's
// references, with recording doubles for the devices and the desktop and the runtime's test host
// for the browsers.
#include "http_test_server.h"
#include "recording_callback.h"
#include "row_name.h"
#include "wait.h"
#include "window_fixture.h"

#include "app/application.h"
#include "app/window.h"
#include "app/window_services.h"
#include "cefclient/popwidget.h"
#include "cefclient/qcefwebview.h"
#include "devices/device_filter.h"
#include "update/file_download.h"
#include "win32sim/faults.h"
#include "win32sim/input_hooks.h"
#include "win32sim/keyboard_layout.h"
#include "win32sim/pointer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

namespace {

using test_support::RecordingCallback;
using test_support::readFile;
using test_support::writeFile;

// What the doubles answer, and every call they receive.
struct Record {
    QStringList calls;
    bool result = true;
    QString reason; // what a failing device call gives as its reason
    QString chosenFile = "/home/u/Documents/a.pfd";
};

class RecordingDevices : public DeviceServices {
public:
    explicit RecordingDevices(Record* r)
        : m_r(r)
    {
    }
    bool resetDevice(const QString& v, QString* why) override { return add("resetDevice(" + v + ")", why); }
    QByteArray readDpiValue(const QString& v, const QString& i) override
    {
        add("readDpiValue(" + v + "," + i + ")");
        return "{\"dpi\":[800,1600]}";
    }
    bool writeDeviceTask(const QString& v, const QString& d, const QString& i, const QString& t, const QString& tt,
                         const QString& tc, QString* why) override
    {
        return add("writeDeviceTask(" + QStringList{v, d, i, t, tt, tc}.join(',') + ")", why);
    }
    bool writeRgbDevice(const QString& v, const QString& d, const QStringList& items, QString* why) override
    {
        return add("writeRgbDevice(" + v + "," + d + ",[" + items.join('|') + "])", why);
    }
    QString windowsMouseConfig(const QString& v) override
    {
        add("windowsMouseConfig(" + v + ")");
        return "{\"speed\":10}";
    }
    QString windowsKeyboardConfig() override
    {
        add("windowsKeyboardConfig()");
        return QString();
    }
    bool setMouseAcceleration(int n, QString* why) override { return add(QString("setMouseAcceleration(%1)").arg(n), why); }
    bool setMouseSpeed(int n, QString* why) override { return add(QString("setMouseSpeed(%1)").arg(n), why); }
    bool setWheelScrollLines(int n, QString* why) override { return add(QString("setWheelScrollLines(%1)").arg(n), why); }
    bool setWheelScrollChars(int n, QString* why) override { return add(QString("setWheelScrollChars(%1)").arg(n), why); }
    bool setDoubleClickTime(int n, QString* why) override { return add(QString("setDoubleClickTime(%1)").arg(n), why); }
    bool startMouseTracks(QString* why) override { return add("startMouseTracks()", why); }
    QString stopMouseTracks() override
    {
        add("stopMouseTracks()");
        return "x:1,y:2Time:3;";
    }

private:
    // A failure gives the record's reason to a caller that asks for one.
    bool add(const QString& call, QString* why = nullptr)
    {
        m_r->calls << call;
        if (!m_r->result && why)
            *why = m_r->reason;
        return m_r->result;
    }
    Record* m_r;
};

class RecordingDesktop : public DesktopServices {
public:
    explicit RecordingDesktop(Record* r)
        : m_r(r)
    {
    }
    QString getSaveFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter) override
    {
        return dialog("save", parent, caption, dir, filter);
    }
    QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter) override
    {
        return dialog("open", parent, caption, dir, filter);
    }
    bool openUrl(const QUrl& url) override
    {
        m_r->calls << "openUrl(" + url.toString() + ")";
        return m_r->result;
    }

private:
    QString dialog(const char* kind, QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
    {
        m_r->calls << QString("%1(%2,%3,%4,%5)")
                          .arg(kind, parent == appMainWindow() ? "main" : "other", caption,
                               QString(dir).replace(QDir::homePath(), "~"), filter);
        return m_r->result ? m_r->chosenFile : QString();
    }
    Record* m_r;
};

// Public: the cases of the table reach into the fixture.
class PageCommandsTest : public test_support::WindowFixture {
public:
    void SetUp() override
    {
        // The quit commands must not end the tests' own event loops: the quit counts as asked for.
        setQuitRequested();
        WindowFixture::SetUp();
        win32sim::clearKeyboardLayoutLoads();
        openWindow();
    }
    void TearDown() override
    {
        closeWindow();
        // Unanswered queries keep the query handler's reference: dropped here.
        for (const CefRefPtr<RecordingCallback>& cb : sent)
            while (cb->refs() > 1)
                cb->Release();
        sent.clear();
        WindowFixture::TearDown();
    }
    void windowOpened() override
    {
        window->setDeviceServices(std::make_unique<RecordingDevices>(&record));
        window->setDesktopServices(std::make_unique<RecordingDesktop>(&record));
    }

    // What reached the main browser and the main view's own browser since the last call (loads,
    // history moves), the page events sent to the main browser, and keyboard layouts loaded.
    QStringList browserCalls()
    {
        cef_test::WaitForIdle();
        QStringList out;
        std::vector<int> ids{events->browserId()};
        if (CefRefPtr<CefBrowser> own = window->webView()->GetBrowser())
            ids.push_back(own->GetIdentifier());
        for (int id : ids) {
            const cef_test::BrowserRecord r = events->host.Record(id);
            Seen& seen = seenOf[id];
            for (size_t i = seen.loads; i < r.loads.size(); ++i)
                out << "load(" + QString::fromStdString(r.loads[i]) + ")";
            for (int i = seen.back; i < r.back; ++i)
                out << "back";
            for (int i = seen.forward; i < r.forward; ++i)
                out << "forward";
            seen = {r.loads.size(), r.back, r.forward};
        }
        const QList<test_support::PageEvent> all = events->events();
        for (int i = seenEvents; i < all.size(); ++i) {
            QStringList args;
            for (const QVariant& a : all[i].args)
                args << a.toString();
            out << "event(" + all[i].name + "," + args.join(',') + ")";
        }
        for (const win32sim::LayoutLoad& l : win32sim::keyboardLayoutLoads())
            out << QString("LoadKeyboardLayoutW(%1,%2)").arg(l.id).arg(l.flags);
        win32sim::clearKeyboardLayoutLoads();
        seenEvents = all.size();
        return out;
    }

    // Sends the query as the query handler forwards it: with the one reference it adds by hand.
    CefRefPtr<RecordingCallback> send(const QString& request)
    {
        browserCalls();
        record.calls.clear();
        CefRefPtr<RecordingCallback> callback = new RecordingCallback;
        callback->AddRef();
        sent.push_back(callback);
        window->onJsMessage(request, callback);
        return callback;
    }

    static QString answerText(const CefRefPtr<RecordingCallback>& cb)
    {
        QStringList out;
        for (const RecordingCallback::Answer& a : cb->answers())
            out << (a.success ? "S:" + a.text : QString("F:%1:%2").arg(a.code).arg(a.text));
        return out.join('\n');
    }

    // The references the query handler's and others hold: all but the test's own two (the caller's
    // and the one kept in sent).
    static int othersRefs(const CefRefPtr<RecordingCallback>& cb) { return cb->refs() - 2; }

    Record record;
    std::vector<CefRefPtr<RecordingCallback>> sent;
    struct Seen {
        size_t loads = 0;
        int back = 0, forward = 0;
    };
    std::map<int, Seen> seenOf;
    int seenEvents = 0;
};

const char kSettings[] = "<Configuration><Conf><Key Index=\"2\" Value=\"b\"/></Conf></Configuration>\n";
const char kMapping[] = "<conf><m flag=\"10\" scanCode=\"16\" playType=\"0\" playCount=\"1\">"
                        "<t task=\"MOUSE\" value=\"单击左键()\"/></m></conf>";

struct Case {
    const char* name;
    const char* request;
    // nullptr: no answer; "S:text" or "F:code:text", where a closing "..." stands for any rest.
    const char* answer;
    QStringList calls;
    bool result = true; // what the doubles answer
    std::function<void(PageCommandsTest&)> setup = nullptr;
    std::function<void(PageCommandsTest&)> check = nullptr;
};

// The pages' settings folder as the dialogs see it.
const QString kHome = "~/Documents";

std::vector<Case> commandCases()
{
    return {
        // The colour text loses its brackets and outer quotes; doubled backslashes become one.
        {"WriteRGBDevice_ItemsLoseTheirBracketsAndQuotes",
         R"({"FuncName":"WriteRGBDevice","Version":"K1.0","DriverVersion":"K1.0","Data":"[\"Esc#FF0000\",\"F1#00FF00\"]"})",
         R"(S:Esc#FF0000","F1#00FF00)", {"writeRgbDevice(K1.0,K1.0,[Esc#FF0000|F1#00FF00])"}},
        {"WriteRGBDevice_DoubledBackslashesBecomeOne",
         R"({"FuncName":"WriteRGBDevice","Version":"K1.0","Data":"[\"a\\\\b\",\"\"]"})", R"(S:a\b",")",
         {"writeRgbDevice(K1.0,,[a\\b|])"}},
        {"WriteRGBDevice_EmptyList", R"({"FuncName":"WriteRGBDevice","Data":"[]"})", "S:", {"writeRgbDevice(,,[])"}},
        {"WriteRGBDevice_RefusedWrite",
         R"({"FuncName":"WriteRGBDevice","Version":"X","Data":"[\"Esc#FF0000\"]"})", "F:0:WriteRGBDevice failed",
         {"writeRgbDevice(X,,[Esc#FF0000])"}, false},
        {"LoginMain_LoadsThePageAndShowsTheWindowLater",
         R"({"FuncName":"LoginMain","Url":"velmora://settings/local/client/login.html","width":"640","height":"480"})",
         nullptr, {"load(velmora://settings/local/client/login.html)"}, true, nullptr,
         [](PageCommandsTest& t) {
             // The view's browser exists: the main browser loads the page.
             EXPECT_TRUE(t.window->isHidden());
             EXPECT_EQ(t.window->size(), QSize(640, 480));
             EXPECT_EQ(t.window->minimumSize(), QSize(640, 480));
             EXPECT_EQ(t.window->webView()->size(), QSize(640, 480));
             EXPECT_EQ(g_handler->GetViewKey(), "velmora://settings/local/client/login.html");
             EXPECT_EQ(g_handler->GetStartupURL(), "velmora://settings/local/client/login.html");
             ASSERT_TRUE(t.window->loginTimer());
             EXPECT_TRUE(t.window->loginTimer()->isActive());
             EXPECT_TRUE(t.window->loginTimer()->isSingleShot());
             EXPECT_EQ(t.window->loginTimer()->parent(), t.window);
             EXPECT_EQ(t.window->loginTimer()->interval(), 1000);
             t.window->LoginWindow();
             EXPECT_TRUE(t.window->isVisible());
         }},
        {"LoginMain_EmptySizeDoesNothing",
         R"({"FuncName":"LoginMain","Url":"u","width":"640","height":""})", nullptr, {}, true, nullptr,
         [](PageCommandsTest& t) { EXPECT_FALSE(t.window->loginTimer()); }},
        {"GetDevicesList_TheVersions", R"({"FuncName":"GetDevicesList"})", R"(S:["K1.0","M1.0"])", {}},
        {"GetDevicesList_NoDeviceNoAnswer", R"({"FuncName":"GetDevicesList"})", nullptr, {}, true,
         [](PageCommandsTest& t) {
             t.sim.reset();
             t.sim = std::make_unique<SimDevices>("Version=X\nDeviceId=USB\\NOTHING\nDevicePath=p\nUsagePage=0xFFA0\n");
             t.window->refreshDeviceList();
         }},
        {"RestDevice_Resets",
         R"({"FuncName":"RestDevice","Version":"M1.0"})", "S:RestDevice success", {"resetDevice(M1.0)"}},
        {"RestDevice_Refused", R"({"FuncName":"RestDevice"})", "F:0:RestDevice failed", {"resetDevice()"}, false},
        {"ReadDevicesDpiVal_TheDevicesText",
         R"({"FuncName":"ReadDevicesDpiVal","Version":"M1.0","DpiIndex":2})", R"(S:{"dpi":[800,1600]})",
         {"readDpiValue(M1.0,2)"}, false},
        {"WriteDevice_Writes",
         R"({"FuncName":"WriteDevice","Version":"M1.0","DriverVersion":"M1.0","Index":"3","Task":"左键","TaskType":"MouseFunction","TaskCount":"1"})",
         "S:writeDevices success!", {"writeDeviceTask(M1.0,M1.0,3,左键,MouseFunction,1)"}},
        {"WriteDevice_Refused", R"({"FuncName":"WriteDevice","Version":"M1.0"})", "F:0:writeDevices failed!",
         {"writeDeviceTask(M1.0,,,,,)"}, false},
        // Pages below the program folder only.
        {"loadurl_PageBelowTheProgramFolder",
         R"({"FuncName":"loadurl","url":"/template/a.html?x=1"})", nullptr, {"load(file://<dir>/template/a.html?x=1)"}},
        {"loadurl_PageOutsideIsNotLoaded", R"({"FuncName":"loadurl","url":"/../etc/passwd"})", nullptr, {}},
        {"loadurl_NoUrlNoAnswer", R"({"FuncName":"loadurl"})", nullptr, {}},
        {"ReadFileToStr_MatchingNodes", R"({"FuncName":"ReadFileToStr","FilePath":"Resources/s.xml","Xpath":"//Key"})",
         "S:<Key Index=\"2\" Value=\"b\" />\n", {}, true,
         [](PageCommandsTest& t) { ASSERT_TRUE(writeFile(t.path("Resources/s.xml"), kSettings)); }},
        {"ReadFileToStr_NoMatchIsEmpty",
         R"({"FuncName":"ReadFileToStr","FilePath":"Resources/s.xml","Xpath":"//None"})", "S:", {}, true,
         [](PageCommandsTest& t) { ASSERT_TRUE(writeFile(t.path("Resources/s.xml"), kSettings)); }},
        {"ReadFileToStr_BadXPath", R"({"FuncName":"ReadFileToStr","FilePath":"Resources/s.xml","Xpath":"//Key["})",
         "F:0:queryProfile load xml file failed!", {}, true,
         [](PageCommandsTest& t) { ASSERT_TRUE(writeFile(t.path("Resources/s.xml"), kSettings)); }},
        {"ReadFileToStr_MissingFile", R"({"FuncName":"ReadFileToStr","FilePath":"Resources/none.xml","Xpath":"/"})",
         "F:0:queryProfile load xml file failed!", {}},
        {"ReadFileToStr_FileOutsideIsNotRead",
         R"({"FuncName":"ReadFileToStr","FilePath":"../outside.xml","Xpath":"//Key"})",
         "F:0:queryProfile load xml file failed!", {}, true,
         [](PageCommandsTest& t) { ASSERT_TRUE(writeFile(t.path("../outside.xml"), kSettings)); },
         [](PageCommandsTest& t) {
             EXPECT_TRUE(t.window->cachedFiles().isEmpty());
             QFile::remove(t.path("../outside.xml"));
         }},
        {"ReadFileToStr_NoPathNoAnswer", R"({"FuncName":"ReadFileToStr","Xpath":"//Key"})", nullptr, {}},
        {"ModifyFileFromStr_ChangesTheCacheNotTheFile",
         R"({"FuncName":"ModifyFileFromStr","FilePath":"Resources/s.xml","ContentStr":"<a/>"})",
         "S:ModifyFileFromStr success", {}, true,
         [](PageCommandsTest& t) { ASSERT_TRUE(writeFile(t.path("Resources/s.xml"), kSettings)); },
         [](PageCommandsTest& t) {
             EXPECT_EQ(t.window->cachedFiles().value(t.path("Resources/s.xml")), "<?xml version=\"1.0\"?>\n<a />\n");
             EXPECT_EQ(readFile(t.path("Resources/s.xml")), QByteArray(kSettings));
         }},
        {"ModifyFileFromStr_NoXmlChangesNothing",
         R"({"FuncName":"ModifyFileFromStr","FilePath":"Resources/s.xml","ContentStr":"<a>"})",
         "F:0:ModifyFileFromStr failed: the text is no XML document", {}, true,
         [](PageCommandsTest& t) { ASSERT_TRUE(writeFile(t.path("Resources/s.xml"), kSettings)); },
         [](PageCommandsTest& t) { EXPECT_TRUE(t.window->cachedFiles().isEmpty()); }},
        {"ModifyFileFromStr_NoPath",
         R"({"FuncName":"ModifyFileFromStr","ContentStr":"<a/>"})",
         "F:0:ModifyFileFromStr failed: the path names no file below the program folder", {}},
        {"ModifyFileFromStr_FileOutsideIsNotMade",
         R"({"FuncName":"ModifyFileFromStr","FilePath":"../../made.xml","ContentStr":"<a/>"})",
         "F:0:ModifyFileFromStr failed: the path names no file below the program folder", {}, true, nullptr,
         [](PageCommandsTest& t) { EXPECT_FALSE(QFile::exists(t.path("../../made.xml"))); }},
        {"mouseTracks_Starts",
         R"({"FuncName":"mouseTracks","status":"开始"})", "S:mouseTracks success", {"startMouseTracks()"}},
        {"mouseTracks_StartRefused",
         R"({"FuncName":"mouseTracks","status":"开始"})", "F:0:mouseTracks failed", {"startMouseTracks()"}, false},
        {"mouseTracks_StopGivesTheTracks",
         R"({"FuncName":"mouseTracks","status":"停止"})", "S:x:1,y:2Time:3;", {"stopMouseTracks()"}},
        {"mouseTracks_UnknownStatusNoAnswer", R"({"FuncName":"mouseTracks","status":"stop"})", nullptr, {}},
        {"mouseTracks_NoStatusNoAnswer", R"({"FuncName":"mouseTracks"})", nullptr, {}},
        {"goback_MovesBack", R"({"FuncName":"goback"})", "S:goback", {"back"}},
        {"goforward_MovesForward", R"({"FuncName":"goforward"})", "S:goforward", {"forward"}},
        {"savexml_NothingCachedNoAnswer", R"({"FuncName":"savexml"})", nullptr, {}},
        {"savexml_WritesTheCachedFiles", R"({"FuncName":"savexml"})", "S:save xml success", {}, true,
         [](PageCommandsTest& t) {
             ASSERT_TRUE(writeFile(t.path("Resources/s.xml"), kSettings));
             t.window->cacheFile(t.path("Resources/s.xml"));
         }},
        {"savexml_FolderGone", R"({"FuncName":"savexml"})", "F:0:save xml failed: the file a.xml could not be written: ...", {}, true,
         [](PageCommandsTest& t) {
             ASSERT_TRUE(QDir(t.programDir()).mkdir("gone"));
             ASSERT_EQ(t.window->modifyCachedFile(t.path("gone/a.xml"), "<a/>"), PageFileCache::Result::Ok);
             ASSERT_TRUE(QDir(t.path("gone")).removeRecursively());
         }},
        // Pointer settings: "Num" is a number or a numeric text.
        {"modifyMouseAcce_Sets",
         R"({"FuncName":"modifyMouseAcce","Num":1})", "S:modifyMouseAccel success", {"setMouseAcceleration(1)"}},
        {"modifyMouseAcce_NumericTextRefused",
         R"({"FuncName":"modifyMouseAcce","Num":"7"})", "F:0:modifyMouseAccel failed", {"setMouseAcceleration(7)"},
         false},
        {"modifyMouseAcce_NoNumberNoAnswer", R"({"FuncName":"modifyMouseAcce"})", nullptr, {}},
        {"ModifyWindowAcceleratedSpeed_Sets",
         R"({"FuncName":"ModifyWindowAcceleratedSpeed","Num":10})", "S:ModifyWindowAcceleratedSpeed success",
         {"setMouseSpeed(10)"}},
        {"ModifyWindowAcceleratedSpeed_Refused",
         R"({"FuncName":"ModifyWindowAcceleratedSpeed","Num":0})", "F:0:ModifyWindowAcceleratedSpeed failed",
         {"setMouseSpeed(0)"}, false},
        {"ModifyWindowAcceleratedSpeed_NoNumberNoAnswer",
         R"({"FuncName":"ModifyWindowAcceleratedSpeed"})", nullptr, {}},
        {"modifyMouseAccel_StartsTheRecorderSilently",
         R"({"FuncName":"modifyMouseAccel"})", nullptr, {"startMouseTracks()"}},
        {"ModifyMouseScrollLines_Sets",
         R"({"FuncName":"ModifyMouseScrollLines","Num":3})", "S:ModifyMouseScrollLines success",
         {"setWheelScrollLines(3)"}},
        {"ModifyMouseScrollLines_Refused",
         R"({"FuncName":"ModifyMouseScrollLines","Num":3})", "F:0:ModifyMouseScrollLines failed",
         {"setWheelScrollLines(3)"}, false},
        {"ModifyMouseScrollLines_NoNumberNoAnswer", R"({"FuncName":"ModifyMouseScrollLines"})", nullptr, {}},
        {"modifyMouseScrollLinesX_TextThatIsNoNumberIsZero",
         R"({"FuncName":"modifyMouseScrollLinesX","Num":"x"})", "S:modifyMouseScrollLinesX success",
         {"setWheelScrollChars(0)"}},
        {"modifyMouseScrollLinesX_Refused",
         R"({"FuncName":"modifyMouseScrollLinesX","Num":4})", "F:0:modifyMouseScrollLinesX failed",
         {"setWheelScrollChars(4)"}, false},
        {"modifyMouseScrollLinesX_NoNumberNoAnswer", R"({"FuncName":"modifyMouseScrollLinesX"})", nullptr, {}},
        {"modifyMouseDoubleClick_Sets",
         R"({"FuncName":"modifyMouseDoubleClick","Num":5})", "S:modifyMouseDoubleClick success",
         {"setDoubleClickTime(5)"}},
        {"modifyMouseDoubleClick_Refused",
         R"({"FuncName":"modifyMouseDoubleClick","Num":12})", "F:0:modifyMouseDoubleClick failed",
         {"setDoubleClickTime(12)"}, false},
        {"modifyMouseDoubleClick_NoNumberNoAnswer", R"({"FuncName":"modifyMouseDoubleClick"})", nullptr, {}},
        {"GetWindowsMouseConfig_TheSettingsText",
         R"({"FuncName":"GetWindowsMouseConfig","Version":"M1.0"})", R"(S:{"speed":10})",
         {"windowsMouseConfig(M1.0)"}, false},
        {"GetWindowsKeyboreadConfig_TheSettingsText",
         R"({"FuncName":"GetWindowsKeyboreadConfig"})", "S:", {"windowsKeyboardConfig()"}},
        // conf.xml is read again for CloseX.
        {"CloseX_NoCloseFuncKeepsTheWindow", R"({"FuncName":"CloseX"})", "S:modify conf sucess", {}, true,
         [](PageCommandsTest& t) {
             t.window->show();
             t.writeConf("<client/>");
         },
         [](PageCommandsTest& t) { EXPECT_TRUE(t.window->isVisible()); }},
        {"CloseX_TrayHidesAndWritesTheFiles", R"({"FuncName":"CloseX"})", "S:modify conf sucess", {}, true,
         [](PageCommandsTest& t) {
             t.window->show();
             t.writeConf("<client/>");
             ASSERT_TRUE(writeFile(t.path("Resources/conf.xml"), "<root><client CloseFunc=\"tray\"/></root>"));
             ASSERT_EQ(t.window->modifyCachedFile(t.path("Resources/new.xml"), "<a/>"), PageFileCache::Result::Ok);
             ASSERT_EQ(t.window->modifyCachedFile(t.path("Resources/new.xml"), "<b/>"), PageFileCache::Result::Ok);
         },
         [](PageCommandsTest& t) {
             EXPECT_TRUE(t.window->isHidden());
             EXPECT_EQ(readFile(t.path("Resources/new.xml")), QByteArray("<?xml version=\"1.0\"?>\n<b />\n"));
         }},
        {"CloseX_CloseappQuitsAndWritesTheFiles", R"({"FuncName":"CloseX"})", "S:modify conf sucess", {}, true,
         [](PageCommandsTest& t) {
             t.window->show();
             ASSERT_TRUE(writeFile(t.path("Resources/conf.xml"), "<root><client CloseFunc=\"Closeapp\"/></root>"));
             ASSERT_EQ(t.window->modifyCachedFile(t.path("Resources/new.xml"), "<a/>"), PageFileCache::Result::Ok);
             ASSERT_EQ(t.window->modifyCachedFile(t.path("Resources/new.xml"), "<c/>"), PageFileCache::Result::Ok);
         },
         [](PageCommandsTest& t) {
             EXPECT_TRUE(t.window->isVisible());
             EXPECT_EQ(readFile(t.path("Resources/new.xml")), QByteArray("<?xml version=\"1.0\"?>\n<c />\n"));
         }},
        {"CloseApp_QuitsAndWritesTheFiles", R"({"FuncName":"CloseApp"})", "S:modify conf sucess", {}, true,
         [](PageCommandsTest& t) {
             ASSERT_EQ(t.window->modifyCachedFile(t.path("Resources/new.xml"), "<a/>"), PageFileCache::Result::Ok);
             ASSERT_EQ(t.window->modifyCachedFile(t.path("Resources/new.xml"), "<d/>"), PageFileCache::Result::Ok);
         },
         [](PageCommandsTest& t) {
             EXPECT_EQ(readFile(t.path("Resources/new.xml")), QByteArray("<?xml version=\"1.0\"?>\n<d />\n"));
         }},
        {"saveFileDialog_ChosenFile", R"({"FuncName":"saveFileDialog"})", "S:/home/u/Documents/a.pfd",
         {"save(main,保存为," + kHome + ",pfd文件(*.pfd))"}},
        {"saveFileDialog_Cancelled",
         R"({"FuncName":"saveFileDialog"})", "F:0:doesn't select file", {"save(main,保存为," + kHome + ",pfd文件(*.pfd))"},
         false},
        {"OpenFileDialog_ChosenFile",
         R"({"FuncName":"OpenFileDialog"})", "S:/home/u/Documents/a.pfd", {"open(main,打开," + kHome + ",*)"}},
        {"OpenFileDialog_Cancelled",
         R"({"FuncName":"OpenFileDialog"})", "F:0:doesn't select file", {"open(main,打开," + kHome + ",*)"}, false},
        {"openFileDialogEx_ChosenFile",
         R"({"FuncName":"openFileDialogEx"})", "S:/home/u/Documents/a.pfd", {"open(main,打开,,)"}},
        {"openFileDialogEx_CancelledNoAnswer",
         R"({"FuncName":"openFileDialogEx"})", nullptr, {"open(main,打开,,)"}, false},
        // The desktop gets web and mail addresses only; its own result is not reported.
        {"OpenUrl_WebAddress", R"({"FuncName":"OpenUrl","url":"https://example.com/a?b=1"})", "S:open successed",
         {"openUrl(https://example.com/a?b=1)"}},
        {"OpenUrl_MailAddressWhateverTheDesktopSays",
         R"({"FuncName":"OpenUrl","url":"mailto:a@example.com"})", "S:open successed",
         {"openUrl(mailto:a@example.com)"}, false},
        {"OpenUrl_FileAddressRefused", R"({"FuncName":"OpenUrl","url":"file:///etc/passwd"})", "F:0:open failed", {}},
        {"OpenUrl_PathRefused", R"({"FuncName":"OpenUrl","url":"/usr/bin/xterm"})", "F:0:open failed", {}},
        {"OpenUrl_NoUrlNoAnswer", R"({"FuncName":"OpenUrl"})", nullptr, {}},
        {"DownloadFile_FinishedFileAtOnce",
         R"({"FuncName":"DownloadFile","downloadUrl":"http://h/f/a.bin?x=1","relativePath":"dl/"})",
         "S:<dir>/dl/a.bin", {}, true, [](PageCommandsTest& t) { ASSERT_TRUE(writeFile(t.path("dl/a.bin"), "x")); }},
        {"DownloadFile_NoFileName", R"({"FuncName":"DownloadFile","downloadUrl":"http://h/f/","relativePath":"dl/"})",
         "F:0:url file is not captured", {}},
        {"DownloadFile_NoWebAddress",
         R"({"FuncName":"DownloadFile","downloadUrl":"ftp://h/a.bin","relativePath":"dl/"})", "F:0:downloadFaild", {}},
        {"DownloadFile_FolderOutside",
         R"({"FuncName":"DownloadFile","downloadUrl":"http://h/a.bin","relativePath":"../"})", "F:0:downloadFaild", {}},
        {"DownloadFile_NoFolderNoAnswer", R"({"FuncName":"DownloadFile","downloadUrl":"http://h/a.bin"})", nullptr, {}},
        {"OpenView_NoHeightNoPopup",
         R"({"FuncName":"OpenView","Url":"velmora://settings/local/client/pop.html","width":400})", nullptr, {}, true,
         nullptr, [](PageCommandsTest& t) { EXPECT_TRUE(t.window->popups().isEmpty()); }},
        {"CloseView_NoPopupTheMainViewListens", R"({"FuncName":"CloseView"})", nullptr, {}, true, nullptr,
         [](PageCommandsTest& t) {
             EXPECT_EQ(g_handler->GetListener(), static_cast<ClientHandler::Listener*>(t.window->webView()));
         }},
        // The browser registered under the key gets the message.
        {"SendMsgToMainBrowser_ReachesTheBrowserOfTheKey",
         R"({"FuncName":"SendMsgToMainBrowser","url":"about:blank","msg":"hi"})", "S:SendMsgToMainBrowser success",
         {"event(onBrowserMsg,hi)"}, true,
         [](PageCommandsTest& t) {
             g_handler->SetViewKey("about:blank");
             t.events->host.SetAddress(t.events->browserId(), "about:blank");
             t.events->host.LoadEnd(t.events->browserId());
             cef_test::WaitForIdle();
         }},
        {"SendMsgToMainBrowser_NoBrowserOfTheKey",
         R"({"FuncName":"SendMsgToMainBrowser","url":"nobody","msg":"hi"})", "S:SendMsgToMainBrowser success", {}},
        {"SendMsgToMainBrowser_NoUrlNoAnswer", R"({"FuncName":"SendMsgToMainBrowser","msg":"hi"})", nullptr, {}},
        {"SetIME_LoadsTheLayout", R"({"FuncName":"SetIME"})", "S:SetIME success!", {"LoadKeyboardLayoutW(0x0409,257)"}},
        // Without the capture thread both fail; an empty argument gives no answer.
        {"setVDevice_NoCaptureThread",
         R"({"FuncName":"setVDevice","virtualXmlPath":"map.xml","deviceId":"HID\\X"})", "F:0:setVDevice failed!", {}},
        {"setVDevice_EmptyPathNoAnswer",
         R"({"FuncName":"setVDevice","virtualXmlPath":"","deviceId":"HID\\X"})", nullptr, {}},
        {"setVDevice_ActivatesTheDevice",
         R"({"FuncName":"setVDevice","virtualXmlPath":"map.xml","deviceId":"HID\\X"})", "S:setVDevice success!", {},
         true,
         [](PageCommandsTest& t) {
             ASSERT_TRUE(writeFile(t.path("map.xml"), kMapping));
             t.window->startDeviceFilter();
         },
         [](PageCommandsTest& t) { EXPECT_EQ(t.window->deviceFilter()->configuredDevices(), QStringList{"HID\\X"}); }},
        // Without a device id nothing is activated.
        {"setVDevice_NoDeviceId",
         R"({"FuncName":"setVDevice","virtualXmlPath":"map.xml","deviceId":""})", "F:0:setVDevice failed!", {}, true,
         [](PageCommandsTest& t) {
             ASSERT_TRUE(writeFile(t.path("map.xml"), kMapping));
             t.window->startDeviceFilter();
         },
         [](PageCommandsTest& t) { EXPECT_TRUE(t.window->deviceFilter()->configuredDevices().isEmpty()); }},
        {"setVDevice_FileOutside",
         R"({"FuncName":"setVDevice","virtualXmlPath":"../map.xml","deviceId":"HID\\X"})", "F:0:setVDevice failed!", {},
         true,
         [](PageCommandsTest& t) {
             ASSERT_TRUE(writeFile(t.path("../map.xml"), kMapping));
             t.window->startDeviceFilter();
         },
         [](PageCommandsTest& t) {
             EXPECT_TRUE(t.window->deviceFilter()->configuredDevices().isEmpty());
             QFile::remove(t.path("../map.xml"));
         }},
        {"closeVDevice_NoCaptureThread",
         R"({"FuncName":"closeVDevice","deviceId":"HID\\X"})", "F:0:closeVDevice failed!", {}},
        {"closeVDevice_EmptyIdNoAnswer", R"({"FuncName":"closeVDevice","deviceId":""})", nullptr, {}},
        {"closeVDevice_EndsTheDevice",
         R"({"FuncName":"closeVDevice","deviceId":"HID\\X"})", "S:closeVDevice success!", {}, true,
         [](PageCommandsTest& t) {
             ASSERT_TRUE(writeFile(t.path("map.xml"), kMapping));
             t.window->startDeviceFilter();
             ASSERT_TRUE(t.window->deviceFilter()->loadConfig("map.xml", "HID\\X"));
         },
         [](PageCommandsTest& t) { EXPECT_TRUE(t.window->deviceFilter()->configuredDevices().isEmpty()); }},
        {"closeVDevice_UnknownDevice",
         R"({"FuncName":"closeVDevice","deviceId":"HID\\Y"})", "F:0:closeVDevice failed!", {}, true,
         [](PageCommandsTest& t) { t.window->startDeviceFilter(); }},
        // Nothing plays without the virtual device.
        {"playActions_NothingPlaysWithoutTheVirtualDevice",
         R"x({"FuncName":"playActions","actionList":"按下(A)弹起(A)"})x", nullptr, {}, true, nullptr,
         [](PageCommandsTest& t) { EXPECT_FALSE(t.window->macroThread()); }},
        // Names are compared exactly; unknown names and malformed requests are not answered.
        {"getDevicesList_NameInOtherCase", R"({"FuncName":"getDevicesList"})", nullptr, {}},
        {"GOBACK_NameInOtherCase", R"({"FuncName":"GOBACK"})", nullptr, {}},
        {"savexml_NameWithASpace", R"({"FuncName":"savexml "})", nullptr, {}},
        {"NoSuchCommand_Unknown", R"({"FuncName":"NoSuchCommand"})", nullptr, {}},
        {"funcname_KeyInOtherCase", R"({"funcname":"goback"})", nullptr, {}},
        {"goback_JsonArray", R"(["goback"])", nullptr, {}},
        {"goback_BrokenJson", R"({"FuncName":"goback")", nullptr, {}},
        {"goback_PlainText", "goback", nullptr, {}},
    };
}

class PageCommandRowTest : public PageCommandsTest, public ::testing::WithParamInterface<Case> {};

TEST_P(PageCommandRowTest, AnswersWithItsTextsAndCalls)
{
    const Case& c = GetParam();
    record.result = c.result;
    if (c.setup)
        c.setup(*this);
    CefRefPtr<RecordingCallback> cb = send(QString::fromUtf8(c.request));
    QStringList calls = record.calls + browserCalls();
    calls.replaceInStrings(programDir(), "<dir>");
    EXPECT_EQ(calls.join('\n').toStdString(), QStringList(c.calls).join('\n').toStdString());
    QString expected = c.answer ? QString::fromUtf8(c.answer).replace("<dir>", programDir()) : QString();
    const QString answer = answerText(cb);
    if (expected.endsWith("...")) {
        expected.chop(3);
        EXPECT_TRUE(answer.startsWith(expected) && answer.size() > expected.size()) << answer.toStdString();
    } else {
        EXPECT_EQ(answer.toStdString(), expected.toStdString());
    }
    // An answer releases the one reference the query handler added; without one it stays.
    EXPECT_EQ(othersRefs(cb), c.answer ? 0 : 1);
    if (c.check)
        c.check(*this);
}

INSTANTIATE_TEST_SUITE_P(Commands, PageCommandRowTest, ::testing::ValuesIn(commandCases()), test_support::RowName());

// A failed call's reason follows the command's fixed failure text, which the pages rely on.
struct ReasonCase {
    const char* name;
    const char* request;
    const char* failure; // the fixed text
};

const ReasonCase kReasons[] = {
    {"WriteRGBDevice", R"({"FuncName":"WriteRGBDevice","Version":"K1.0","Data":"[\"Esc#FF0000\"]"})",
     "WriteRGBDevice failed"},
    {"RestDevice", R"({"FuncName":"RestDevice","Version":"M1.0"})", "RestDevice failed"},
    {"WriteDevice", R"({"FuncName":"WriteDevice","Version":"M1.0","Index":"3","Task":"左键","TaskType":"MouseFunction"})",
     "writeDevices failed!"},
    {"mouseTracks", R"({"FuncName":"mouseTracks","status":"开始"})", "mouseTracks failed"},
    {"modifyMouseAcce", R"({"FuncName":"modifyMouseAcce","Num":1})", "modifyMouseAccel failed"},
    {"ModifyWindowAcceleratedSpeed", R"({"FuncName":"ModifyWindowAcceleratedSpeed","Num":10})",
     "ModifyWindowAcceleratedSpeed failed"},
    {"ModifyMouseScrollLines", R"({"FuncName":"ModifyMouseScrollLines","Num":3})", "ModifyMouseScrollLines failed"},
    {"modifyMouseScrollLinesX", R"({"FuncName":"modifyMouseScrollLinesX","Num":4})", "modifyMouseScrollLinesX failed"},
    {"modifyMouseDoubleClick", R"({"FuncName":"modifyMouseDoubleClick","Num":5})", "modifyMouseDoubleClick failed"},
};

class ReasonTest : public PageCommandsTest, public ::testing::WithParamInterface<ReasonCase> {};

TEST_P(ReasonTest, TheFailureCarriesTheReasonOfTheCall)
{
    const ReasonCase& c = GetParam();
    record.result = false;
    record.reason = "no device M1.0 is attached";
    CefRefPtr<RecordingCallback> cb = send(QString::fromUtf8(c.request));
    ASSERT_EQ(record.calls.size(), 1);
    EXPECT_EQ(answerText(cb).toStdString(), std::string("F:0:") + c.failure + ": no device M1.0 is attached");
    EXPECT_EQ(othersRefs(cb), 0);
}

INSTANTIATE_TEST_SUITE_P(FailedCalls, ReasonTest, ::testing::ValuesIn(kReasons), test_support::RowName());

// Names that pass a plain check of the text but lead outside the program folder once the file system
// cuts them at a NUL character or the browser reads them as an address.
struct EscapeCase {
    const char* name;
    // "<back>": a NUL, then back into the program folder by its own name, "<self>".
    const char* request;
    const char* answer; // nullptr: none
    const char* calls;
};

const EscapeCase kEscapes[] = {
    {"ReadFileToStr_CutAtNul", R"({"FuncName":"ReadFileToStr","FilePath":"../outside.xml<back>Resources/s.xml","Xpath":"//Key"})",
     "F:0:queryProfile load xml file failed!", ""},
    {"ModifyFileFromStr_CutAtNul", R"({"FuncName":"ModifyFileFromStr","FilePath":"../made.xml<back>made.xml","ContentStr":"<a/>"})",
     "F:0:ModifyFileFromStr failed: the path names no file below the program folder", ""},
    {"setVDevice_CutAtNul", R"({"FuncName":"setVDevice","virtualXmlPath":"../outside.xml<back>map.xml","deviceId":"HID\\X"})",
     "F:0:setVDevice failed!", ""},
    {"DownloadFile_CutAtNul", R"({"FuncName":"DownloadFile","downloadUrl":"http://h/outside.xml","relativePath":"..<back>"})",
     "F:0:downloadFaild", ""},
    // The browser decodes escapes, takes a backslash for a slash, and the address is the folder's
    // path with the text appended.
    {"loadurl_EscapedDots", R"({"FuncName":"loadurl","url":"/template/%2e%2e/%2E%2E/outside.html"})", nullptr, ""},
    {"loadurl_Backslashes", R"({"FuncName":"loadurl","url":"/template\\..\\..\\outside.html"})", nullptr, ""},
    {"loadurl_LeadingBackslash", R"({"FuncName":"loadurl","url":"\\..\\outside.html"})", nullptr, ""},
    {"loadurl_EscapedNul", R"({"FuncName":"loadurl","url":"/../outside.html%00/../<self>/a.html"})", nullptr, ""},
    {"loadurl_NoLeadingSlash", R"({"FuncName":"loadurl","url":"-outside.html"})", nullptr, ""},
    // Inside the folder these forms still load, as they are written.
    {"loadurl_EscapesInsideLoadAsWritten", R"({"FuncName":"loadurl","url":"/template/%61.html#%2e%2e/x"})", nullptr,
     "load(file://<dir>/template/%61.html#%2e%2e/x)"},
    {"loadurl_BackslashInsideLoadsAsWritten", R"({"FuncName":"loadurl","url":"/template/a/..\\b.html"})", nullptr,
     "load(file://<dir>/template/a/..\\b.html)"},
};

class EscapeTest : public PageCommandsTest, public ::testing::WithParamInterface<EscapeCase> {};

TEST_P(EscapeTest, NamesReadOtherwiseByTheFileSystemOrTheBrowserStayInTheProgramFolder)
{
    const EscapeCase& c = GetParam();
    // The program folder's own name, to come back into it after the cut.
    const QString self = QFileInfo(programDir()).fileName();
    const QString back = QString("\\u0000/../") + self + "/";
    ASSERT_TRUE(writeFile(path("../outside.xml"), kSettings));
    ASSERT_TRUE(writeFile(path("../outside.html"), "outside"));
    ASSERT_TRUE(writeFile(path("Resources/s.xml"), kSettings));
    ASSERT_TRUE(writeFile(path("map.xml"), kMapping));
    window->startDeviceFilter();
    CefRefPtr<RecordingCallback> cb = send(QString::fromUtf8(c.request).replace("<back>", back).replace("<self>", self));
    QStringList calls = record.calls + browserCalls();
    calls.replaceInStrings(programDir(), "<dir>");
    EXPECT_EQ(calls.join('\n').toStdString(), c.calls);
    EXPECT_EQ(answerText(cb).toStdString(), c.answer ? c.answer : "");
    EXPECT_TRUE(window->cachedFiles().isEmpty());
    EXPECT_TRUE(window->deviceFilter()->configuredDevices().isEmpty());
    EXPECT_FALSE(QFile::exists(path("../made.xml")));
    EXPECT_TRUE(window->downloads().isEmpty());
    QFile::remove(path("../outside.xml"));
    QFile::remove(path("../outside.html"));
}

INSTANTIATE_TEST_SUITE_P(Names, EscapeTest, ::testing::ValuesIn(kEscapes), test_support::RowName());

TEST_F(PageCommandsTest, DownloadAnswersWithTheFileOnceItIsWhole)
{
    test_support::HttpTestServer server;
    const QByteArray bytes = QByteArray(150000, 'd');
    server.route("/f/a.bin", test_support::HttpReply::resource(bytes));
    // What an earlier attempt left is no finished file: it is resumed.
    ASSERT_TRUE(writeFile(path("dl/a.bin.part"), bytes.left(102400)));
    const QString url = server.url("/f/a.bin?x=1");
    const QString request = QString(R"({"FuncName":"DownloadFile","downloadUrl":"%1","relativePath":"dl/"})").arg(url);
    CefRefPtr<RecordingCallback> cb = send(request);
    EXPECT_TRUE(cb->answers().empty());
    ASSERT_EQ(window->downloads().size(), 1);
    wrapFileDownload* download = window->downloads().first();
    EXPECT_EQ(download->parent(), window);
    EXPECT_EQ(download->url, url);
    EXPECT_EQ(download->relativeDir, "dl/");
    EXPECT_EQ(download->callback.get(), cb.get());

    ASSERT_TRUE(test_support::waitFor([&] { return !cb->answers().empty(); }));
    EXPECT_EQ(answerText(cb), "S:" + path("dl/a.bin"));
    EXPECT_EQ(othersRefs(cb), 0);
    EXPECT_TRUE(readFile(path("dl/a.bin")) == bytes);
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests().first().header("Range"), QByteArray("bytes=102400-"));

    // Once whole, the file is the answer at once.
    CefRefPtr<RecordingCallback> again = send(request);
    EXPECT_EQ(answerText(again), "S:" + path("dl/a.bin"));
    EXPECT_EQ(window->downloads().size(), 1);
    EXPECT_EQ(server.requests().size(), 1);
}

TEST_F(PageCommandsTest, ClosingTheWindowEndsARunningDownload)
{
    test_support::HttpTestServer server;
    server.route("/f/a.bin", test_support::HttpReply::hangs());
    CefRefPtr<RecordingCallback> cb = send(
        QString(R"({"FuncName":"DownloadFile","downloadUrl":"%1","relativePath":"dl/"})").arg(server.url("/f/a.bin")));
    ASSERT_TRUE(server.waitForRequests(1));
    // The query handler's and the download's.
    EXPECT_EQ(othersRefs(cb), 2);
    closeWindow();
    EXPECT_EQ(answerText(cb), "F:0:downloadFaild");
    EXPECT_EQ(othersRefs(cb), 0);
}

TEST_F(PageCommandsTest, PopupViewsOpenOncePerAddressAndTheLastActivatedCloses)
{
    const QString a = "velmora://settings/local/client/a.html", b = "velmora://settings/local/client/b.html";
    auto open = [&](const QString& url, int w, int h) {
        CefRefPtr<RecordingCallback> cb =
            send(QString(R"({"FuncName":"OpenView","Url":"%1","width":%2,"height":"%3"})").arg(url).arg(w).arg(h));
        EXPECT_TRUE(cb->answers().empty());
    };
    open(a, 400, 300);
    ASSERT_TRUE(window->popups().value(a));
    PopWidget* popupA = window->popups().value(a);
    EXPECT_EQ(popupA->size(), QSize(400, 300));
    EXPECT_EQ(popupA->parentWidget(), window);
    EXPECT_TRUE(popupA->isVisible());
    EXPECT_EQ(popupA->windowFlags() & (Qt::Dialog | Qt::FramelessWindowHint), Qt::Dialog | Qt::FramelessWindowHint);
    EXPECT_EQ(g_handler->GetListener(), static_cast<ClientHandler::Listener*>(popupA->webView()));
    EXPECT_EQ(g_handler->GetViewKey(), a);
    cef_test::WaitForIdle();
    EXPECT_EQ(g_handler->GetMainWindowHandle(), static_cast<HWND>(popupA->winId()));

    // The same address again only changes the view key.
    g_handler->SetViewKey("other");
    open(a, 800, 600);
    EXPECT_EQ(window->popups().size(), 1);
    EXPECT_EQ(window->popups().value(a), popupA);
    EXPECT_EQ(popupA->size(), QSize(400, 300));
    EXPECT_EQ(g_handler->GetViewKey(), a);

    // The popup's page queries reach the dispatcher through its view.
    CefRefPtr<RecordingCallback> viaPopup = new RecordingCallback;
    viaPopup->AddRef();
    sent.push_back(viaPopup);
    emit popupA->webView()->jsMessage(R"({"FuncName":"goback"})", viaPopup);
    EXPECT_EQ(answerText(viaPopup), "S:goback");

    open(b, 300, 200);
    PopWidget* popupB = window->popups().value(b);
    ASSERT_TRUE(popupB);
    QPointer<PopWidget> watchA(popupA), watchB(popupB);

    // CloseView closes the popup activated last, not the one that asked.
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(popupA, &activate);
    EXPECT_EQ(window->activePopup(), popupA);
    cef_test::WaitForIdle();
    CefRefPtr<RecordingCallback> cb = send(R"({"FuncName":"CloseView"})");
    EXPECT_TRUE(cb->answers().empty());
    EXPECT_EQ(window->popups().keys(), QStringList{b});
    EXPECT_FALSE(window->activePopup());
    EXPECT_EQ(g_handler->GetListener(), static_cast<ClientHandler::Listener*>(window->webView()));
    cef_test::WaitForIdle();
    EXPECT_EQ(g_handler->GetMainWindowHandle(), static_cast<HWND>(window->winId()));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(watchA.isNull());
    EXPECT_FALSE(watchB.isNull());

    // With no popup activated, CloseView only gives the main view the queries back.
    cb = send(R"({"FuncName":"CloseView"})");
    EXPECT_EQ(window->popups().keys(), QStringList{b});
    // A closed address opens again.
    open(a, 400, 300);
    EXPECT_EQ(window->popups().size(), 2);
}

TEST_F(PageCommandsTest, GeometryWordsActOnTheWindowOfThePageThatAsked)
{
    window->setMinimumSize(100, 100);
    window->show();
    window->setGeometry(100, 100, 700, 500);
    const QRect normal = window->geometry();
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    g_handler->SetMainWindowHandle(static_cast<HWND>(window->winId()));
    cef_test::WaitForIdle();

    struct Case {
        const char* request;
        QRect geometry;
        const char* calls;
    } cases[] = {
        // Nothing saved yet: the window stays.
        {"restoreWindow", normal, ""},
        {"maxsizeWindow", work, ""},
        {"restoreWindow", normal, ""},
        {R"({"FuncName":"maxsizeWindow"})", work, ""},
        {R"({"FuncName":"restoreWindow","x":1})", normal, ""},
        // The words as a command's argument make no geometry request: the command runs.
        {R"({"FuncName":"OpenUrl","url":"https://h/maxsizeWindow"})", normal, "openUrl(https://h/maxsizeWindow)"},
        {"xx maxsizeWindow restoreWindow", work, ""},
        {"maxsizeWindow", work, ""},
        // The second maximise saved the work area: the restore keeps it.
        {"restoreWindow", work, ""},
    };
    for (const Case& c : cases) {
        CefRefPtr<RecordingCallback> cb = send(c.request);
        EXPECT_EQ(window->geometry(), c.geometry) << c.request;
        EXPECT_EQ(record.calls.join('\n'), c.calls) << c.request;
        if (!QString(c.request).contains("OpenUrl")) {
            EXPECT_TRUE(cb->answers().empty()) << c.request;
        }
    }

    // Each window keeps its own geometry: a popup is never restored to the main window's.
    window->setGeometry(normal);
    auto* other = new QWidget(nullptr, Qt::Window);
    other->setGeometry(50, 60, 300, 200);
    other->show();
    const QRect otherNormal = other->geometry();
    auto target = [](QWidget* w) {
        g_handler->SetMainWindowHandle(static_cast<HWND>(w->winId()));
        cef_test::WaitForIdle();
    };
    send("maxsizeWindow");
    target(other);
    send("restoreWindow"); // nothing saved for this one
    EXPECT_EQ(other->geometry(), otherNormal);
    send("maxsizeWindow");
    EXPECT_EQ(other->geometry(), work);
    send("restoreWindow");
    EXPECT_EQ(other->geometry(), otherNormal);
    target(window);
    send("restoreWindow");
    EXPECT_EQ(window->geometry(), normal);
    delete other;

    // No window of the handle: nothing happens.
    g_handler->SetMainWindowHandle(0);
    cef_test::WaitForIdle();
    send("maxsizeWindow");
    EXPECT_EQ(window->geometry(), normal);
}

TEST_F(PageCommandsTest, TheWindowsOwnServicesReachTheSystemAndTheDevices)
{
    window->setDeviceServices(std::make_unique<WindowDeviceServices>(window));
    win32sim_resetPointerSettings();
    struct Case {
        const char* request;
        const char* answer;
    } cases[] = {
        {R"({"FuncName":"modifyMouseAcce","Num":2})", "S:modifyMouseAccel success"},
        {R"({"FuncName":"modifyMouseAcce","Num":4})", "F:0:modifyMouseAccel failed: the value 4 is out of range (0 to 3)"},
        {R"({"FuncName":"ModifyWindowAcceleratedSpeed","Num":"15"})", "S:ModifyWindowAcceleratedSpeed success"},
        {R"({"FuncName":"ModifyMouseScrollLines","Num":7})", "S:ModifyMouseScrollLines success"},
        {R"({"FuncName":"modifyMouseScrollLinesX","Num":5})", "S:modifyMouseScrollLinesX success"},
        {R"({"FuncName":"modifyMouseDoubleClick","Num":3})", "S:modifyMouseDoubleClick success"},
        {R"({"FuncName":"modifyMouseDoubleClick","Num":12})",
         "F:0:modifyMouseDoubleClick failed: the value 12 is out of range (0 to 11)"},
        {R"({"FuncName":"RestDevice","Version":"M1.0"})", "S:RestDevice success"},
        // The devices' own reasons.
        {R"({"FuncName":"RestDevice","Version":"X1.0"})", "F:0:RestDevice failed: no device X1.0 is attached"},
        {R"({"FuncName":"WriteDevice","Version":"M1.0","DriverVersion":"Z","Index":"40","Task":"0x04","TaskType":"MultiMedia"})",
         R"(F:0:writeDevices failed!: there is no description of driver "Z")"},
        {R"({"FuncName":"WriteRGBDevice","Version":"X1.0","DriverVersion":"K1.0","Data":"[\"Esc#FF0000\"]"})",
         "F:0:WriteRGBDevice failed: no device X1.0 is attached"},
    };
    vqsim().clearCalls();
    for (const Case& c : cases)
        EXPECT_EQ(answerText(send(c.request)).toStdString(), c.answer) << c.request;
    const Win32PointerSettings p = win32sim_pointerSettings();
    EXPECT_EQ(p.mouse[0], 4);
    EXPECT_EQ(p.mouse[1], 6);
    EXPECT_EQ(p.mouse[2], 2);
    EXPECT_EQ(p.speed, 15);
    EXPECT_EQ(p.wheelLines, 7u);
    EXPECT_EQ(p.wheelChars, 5u);
    EXPECT_EQ(p.doubleClickTime, 760u);
    EXPECT_EQ(simCalls("vqReset"), 1);
    EXPECT_STREQ(lastSimCall("vqReset").id, kMouseId);
    win32sim_resetPointerSettings();

    // The recorder: two clicks anywhere between its start and its stop.
    EXPECT_EQ(answerText(send(R"({"FuncName":"mouseTracks","status":"开始"})")).toStdString(), "S:mouseTracks success");
    for (POINT pt : {POINT{12, 34}, POINT{560, 78}}) {
        win32sim::injectMouseEvent(WM_LBUTTONDOWN, pt);
        win32sim::injectMouseEvent(WM_LBUTTONUP, pt);
    }
    const QString tracks = answerText(send(R"({"FuncName":"mouseTracks","status":"停止"})"));
    EXPECT_TRUE(QRegularExpression("^S:x:12,y:34Time:\\d+;x:560,y:78Time:\\d+;$").match(tracks).hasMatch())
        << tracks.toStdString();
    EXPECT_EQ(win32sim::installedHooks(WH_MOUSE_LL), 0);
    // "modifyMouseAccel" starts it too, and answers nothing.
    EXPECT_TRUE(answerText(send(R"({"FuncName":"modifyMouseAccel"})")).isEmpty());
    EXPECT_EQ(win32sim::installedHooks(WH_MOUSE_LL), 1);
    EXPECT_EQ(answerText(send(R"({"FuncName":"mouseTracks","status":"停止"})")).toStdString(), "S:");
    // A hook that cannot be installed.
    win32sim::failNextCall("SetWindowsHookExW", ERROR_NO_SYSTEM_RESOURCES);
    EXPECT_EQ(answerText(send(R"({"FuncName":"mouseTracks","status":"开始"})")).toStdString(), "F:0:mouseTracks failed: the mouse hook could not be installed");
}

} // namespace
