// What cannot be read at start-up is said in the runtime's log and on standard error: a
// configuration that is missing, empty, unreadable or malformed, and a page package that is
// refused, after which no page of an earlier run is served and the start page says why.
#include "window_fixture.h"

#include "app/application.h"
#include "app/window.h"
#include "cefclient/client_handler.h"
#include "cefclient/page_loader.h"

#include "packer.h"

#include "include/internal/cef_types.h"
#include "cef_extras/logging.h"

#include <QDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <functional>

namespace {

using test_support::readFile;
using test_support::writeFile;

class StartFailuresTest : public test_support::WindowFixture {
protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        cef_logging::SetLogDestination(log.toStdString(), LOGSEVERITY_DEFAULT);
    }
    void TearDown() override
    {
        cef_logging::SetLogDestination(std::string(), LOGSEVERITY_DEFAULT);
        WindowFixture::TearDown();
    }
    // What f wrote to standard error.
    static QString stderrOf(const std::function<void()>& f)
    {
        ::testing::internal::CaptureStderr();
        f();
        return QString::fromStdString(::testing::internal::GetCapturedStderr());
    }
    QString logText() const { return QString::fromUtf8(readFile(log)); }

    const QString log = path("app.log");
};

TEST_F(StartFailuresTest, AConfigurationThatCannotBeReadIsReportedAndKeepsTheEarlierValues)
{
    writeConf("<client Name=\"earlier\"/>");
    ASSERT_EQ(app->confValues().value("Name"), "earlier");
    const QString conf = path("Resources/conf.xml");
    struct Case {
        const char* what;
        std::function<void()> make;
        const char* says;
        bool kept; // the earlier values stay
    };
    const Case cases[] = {
        {"missing", [&] { QFile::remove(conf); }, "cannot be read: there is no such file", true},
        {"empty", [&] { writeFile(conf, ""); }, "cannot be read: No document element found", true},
        {"a folder", [&] { QFile::remove(conf); QDir().mkpath(conf); }, "cannot be read: it is a folder", true},
        {"malformed", [&] { writeFile(conf, "<root><client Name=\"x\"></root>"); }, "cannot be read: Start-end tags mismatch at byte", true},
        {"without client", [&] { writeFile(conf, "<root><other/></root>"); }, "gives no settings: no element client below root", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(conf).removeRecursively();
        writeConf("<client Name=\"earlier\"/>");
        c.make();
        const QString err = stderrOf([&] { app->loadConf(); });
        const QString line = "The configuration " + conf + " " + c.says;
        EXPECT_TRUE(err.contains(line)) << err.toStdString();
        EXPECT_TRUE(logText().contains(line)) << logText().toStdString();
        EXPECT_EQ(app->confValues().value("Name"), c.kept ? "earlier" : "");
    }
    QDir(conf).removeRecursively();
    // A configuration that reads says nothing.
    writeConf("<client Name=\"later\"/>");
    EXPECT_TRUE(stderrOf([&] { app->loadConf(); }).isEmpty());
}

TEST_F(StartFailuresTest, ARefusedPackageServesNoEarlierPagesAndTheStartPageSaysWhy)
{
    const QByteArray good = packer::packEntries({{"template/main/index.html", "<p>new</p>"}});
    ASSERT_FALSE(good.isEmpty());
    QByteArray altered = good;
    altered[good.size() - 3] = char(altered[good.size() - 3] ^ 0x20);
    struct Case {
        const char* what;
        QByteArray package;
        const char* says;
    };
    const Case cases[] = {
        {"truncated", good.left(good.size() - 10), "its digest does not match its contents"},
        {"altered", altered, "its digest does not match its contents"},
        {"not a package", QByteArray(300, 'x'), "its digest does not match its contents"},
        {"too short", good.left(100), "it is too short to be a package (100 bytes)"},
        {"empty", QByteArray(), "it is too short to be a package (0 bytes)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(writeFile(path("skn.dat"), c.package));
        const QString err = stderrOf([&] { openWindow(); });
        const QString why = "the page package " + path("skn.dat") + " was refused: " + c.says;
        EXPECT_TRUE(err.contains("The pages cannot be read: " + why)) << err.toStdString();
        EXPECT_TRUE(logText().contains("The pages cannot be read: " + why));

        // Nothing below the unpacked folder is served, whatever an earlier run left there.
        EXPECT_EQ(app->pageRoot(), QString());
        EXPECT_TRUE(page_loader::FileBelow(app->pageRoot(), "main/index.html").isEmpty());
        // The start page is the program's own message.
        const std::string shown = events->host.Record(events->host.LastBrowserId()).params.url;
        const QString text = QUrl::fromPercentEncoding(QByteArray::fromStdString(shown));
        EXPECT_TRUE(text.startsWith("data:text/html;charset=utf-8,")) << text.toStdString();
        EXPECT_TRUE(text.contains("The pages could not be read")) << text.toStdString();
        EXPECT_TRUE(text.contains(why.toHtmlEscaped())) << text.toStdString();
        EXPECT_EQ(QUrl::fromPercentEncoding(QByteArray::fromStdString(g_handler->GetStartupURL())), text);
        closeWindow();
    }
}

TEST_F(StartFailuresTest, WithDebugPagesARefusedPackageIsOnlyReported)
{
    ASSERT_TRUE(writeFile(path("skn.dat"), QByteArray(300, 'x')));
    const QString err = stderrOf([&] {
        openWindow("<client Name=\"Tarquil\" Debug=\"true\" LoadPath=\"" + QString(test_support::startPage()) + "\"/>");
    });
    EXPECT_TRUE(err.contains("was refused")) << err.toStdString();
    // The pages come from the program's folder, which the package does not touch.
    EXPECT_EQ(app->pageRoot(), QCoreApplication::applicationDirPath() + "/template");
    EXPECT_EQ(events->host.Record(events->host.LastBrowserId()).params.url, test_support::startPage());
}

} // namespace
