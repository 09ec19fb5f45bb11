// The program's pages through the real engine (offscreen, a page without a view): a page of the
// page root loads through the local page loader with its image inlined and its style sheet
// applied, fetches a font as its exact bytes, and gets nothing for addresses that lead outside the
// roots. The page reports what it saw through a page query, which the query handler hands to the
// listener.
#include "cefclient/client_handler.h"
#include "cefclient/message_event.h"

#include "cef_recording_client.h"
#include "test_app.h"
#include "test_files.h"
#include "wait.h"

#include "include/cef_app.h"
#include "cef_extras/qt_backend.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <memory>
#include <mutex>
#include <vector>

namespace {

// The page queries that reach the view, as texts.
class QueryListener : public ClientHandler::Listener {
public:
    void OnBrowserCreated(CefRefPtr<CefBrowser>) override {}
    void PostMessageEvent(MessageEvent* event) override
    {
        std::unique_ptr<MessageEvent> owned(event);
        std::lock_guard<std::mutex> lock(m);
        queries.append(event->message());
        event->callback()->Release(); // the reference the handler added for the main window's reply
    }
    QStringList Queries()
    {
        std::lock_guard<std::mutex> lock(m);
        return queries;
    }

private:
    std::mutex m;
    QStringList queries;
};

QByteArray pngBytes()
{
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(Qt::green);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QByteArray fontBytes() { return QByteArray::fromHex("774f4632000100ff80fe00c3287f"); }

const char kPage[] = R"(<html><head><link rel="stylesheet" href="css/style.css"></head><body>
<img id="logo" src="image/logo.png"><div id="box" class="box">x</div>
<script>
function hex(buffer) {
  return Array.from(new Uint8Array(buffer)).map(function (b) { return ('0' + b.toString(16)).slice(-2); }).join('');
}
// The bytes of url as hex text, or what went wrong.
function get(url) {
  return new Promise(function (resolve) {
    var xhr = new XMLHttpRequest();
    xhr.open('GET', url);
    xhr.responseType = 'arraybuffer';
    xhr.onload = function () { resolve(xhr.status === 200 || xhr.status === 0 ? hex(xhr.response) : 'status ' + xhr.status); };
    xhr.onerror = function () { resolve('refused'); };
    xhr.send();
  });
}
window.addEventListener('load', function () {
  var img = document.getElementById('logo');
  var style = getComputedStyle(document.getElementById('box'));
  var report = {inlined: img.src.indexOf('data:image/png;base64,') === 0, width: img.naturalWidth,
                color: style.color, background: style.backgroundImage.substring(0, 27)};
  Promise.all([get('fonts/face.woff2'), get('../../../../secret.txt'), get('%2e%2e/%2e%2e/%2e%2e/secret.txt'),
               get(location.origin + '/xxxxxxxxxxxxxx..%2F' + OUTSIDE)]).then(function (answers) {
    report.font = answers[0];
    report.escapes = answers.slice(1);
    cefQuery({request: JSON.stringify(report)});
  });
});
</script></body></html>)";

class EnginePagesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temp.isValid());
        const QString root = temp.path() + "/template";
        outside = QString("engine-pages-%1-outside.txt").arg(QCoreApplication::applicationPid());
        QString page = kPage;
        page.replace("OUTSIDE", "'" + outside + "'");
        put(root + "/main/index.html", page.toUtf8());
        put(root + "/main/css/style.css", ".box { color: rgb(1, 2, 3); background-image: url(../image/logo.png); }");
        put(root + "/main/image/logo.png", pngBytes());
        put(root + "/main/fonts/face.woff2", fontBytes());
        put(temp.path() + "/secret.txt", "secret");
        put(QCoreApplication::applicationDirPath() + "/template/" + outside, "secret");
        TestApplication* app = static_cast<TestApplication*>(appInstance());
        app->setPageRoot(root);
        app->setImageRoot("main");
        g_handler->SetListener(&listener);
    }
    void TearDown() override
    {
        g_handler->SetListener(nullptr);
        QFile::remove(QCoreApplication::applicationDirPath() + "/template/" + outside);
    }
    static void put(const QString& path, const QByteArray& bytes) { ASSERT_TRUE(test_support::writeFile(path, bytes)); }

    QTemporaryDir temp;
    QString outside;
    QueryListener listener;
};

TEST_F(EnginePagesTest, APageOfThePageRootLoadsWithItsImagesStyleAndFontsAndNothingFromOutside)
{
    CefWindowInfo windowless;
    windowless.SetAsWindowless(0, false);
    ASSERT_TRUE(CefBrowserHost::CreateBrowser(windowless, g_handler.get(),
                                              "velmora://settings/local/client/main/index.html", CefBrowserSettings()));
    ASSERT_TRUE(test_support::waitFor([&] { return !listener.Queries().isEmpty(); }, 60000));
    const QJsonObject report = QJsonDocument::fromJson(listener.Queries().first().toUtf8()).object();
    EXPECT_TRUE(report.value("inlined").toBool()) << qPrintable(listener.Queries().first());
    EXPECT_EQ(report.value("width").toInt(), 3);
    EXPECT_EQ(report.value("color").toString(), "rgb(1, 2, 3)"); // the style sheet was taken as one
    EXPECT_EQ(report.value("background").toString(), "url(\"data:image/png;base64,");
    EXPECT_EQ(report.value("font").toString(), QString::fromLatin1(fontBytes().toHex()));
    const QString secret = QString::fromLatin1(QByteArray("secret").toHex());
    EXPECT_EQ(report.value("escapes").toArray().size(), 3);
    for (const QJsonValue& escape : report.value("escapes").toArray())
        EXPECT_NE(escape.toString(), secret);

    CefRefPtr<CefBrowser> browser = g_handler->GetBrowser();
    ASSERT_TRUE(browser);
    browser->GetHost()->CloseBrowser(true);
    EXPECT_TRUE(test_support::waitFor([] { return ClientHandler::GetBrowserCount() == 0; }, 30000));
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);

    // As the program starts: the runtime and the scheme before the application object.
    QTemporaryDir cache(QDir::tempPath() + "/cefclient-engine-XXXXXX");
    CefRefPtr<test_support::RecordingApp> app = new test_support::RecordingApp;
    CefMainArgs args(argc, argv);
    CefSettings settings;
    settings.no_sandbox = 1;
    settings.multi_threaded_message_loop = 1;
    CefString(&settings.cache_path) = cache.path().toStdString();
    cefqt::InstallBackend();
    CefInitialize(args, settings, app.get(), nullptr);
    g_handler = new ClientHandler();
    g_handler->RegisterSchemeHandlerFactory("velmora", "settings");

    int rc = 0;
    {
        TestApplication application(argc, argv);
        rc = RUN_ALL_TESTS();
    }
    CefShutdown();
    g_handler = nullptr;
    app = nullptr;
    return rc;
}
