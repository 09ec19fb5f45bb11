// What cannot be read at start-up is said in the runtime's log and on standard error: a
// configuration that is missing, empty, unreadable or malformed, and a page package that is
// refused, after which no page of an earlier run is served and the start page says why.
#include "row_name.h"
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

// A configuration that cannot be read, what is said about it, and whether the earlier values stay.
struct BadConfiguration {
    const char* name;
    enum Kind { Missing, Empty, Folder, Malformed, WithoutClient } kind;
    const char* says;
    bool kept;
};

void PrintTo(const BadConfiguration& row, std::ostream* os) { *os << row.name; }

class UnreadableConfiguration : public StartFailuresTest, public ::testing::WithParamInterface<BadConfiguration> {};

TEST_P(UnreadableConfiguration, IsReportedAndKeepsTheEarlierValues)
{
    const BadConfiguration& c = GetParam();
    writeConf("<client Name=\"earlier\"/>");
    ASSERT_EQ(app->confValues().value("Name"), "earlier");
    const QString conf = path("Resources/conf.xml");
    switch (c.kind) {
    case BadConfiguration::Missing:
        QFile::remove(conf);
        break;
    case BadConfiguration::Empty:
        writeFile(conf, "");
        break;
    case BadConfiguration::Folder:
        QFile::remove(conf);
        QDir().mkpath(conf);
        break;
    case BadConfiguration::Malformed:
        writeFile(conf, "<root><client Name=\"x\"></root>");
        break;
    case BadConfiguration::WithoutClient:
        writeFile(conf, "<root><other/></root>");
        break;
    }
    const QString err = stderrOf([&] { app->loadConf(); });
    const QString line = "The configuration " + conf + " " + c.says;
    EXPECT_TRUE(err.contains(line)) << err.toStdString();
    EXPECT_TRUE(logText().contains(line)) << logText().toStdString();
    EXPECT_EQ(app->confValues().value("Name"), c.kept ? "earlier" : "");
}

INSTANTIATE_TEST_SUITE_P(StartFailuresTest, UnreadableConfiguration,
    ::testing::Values(
        BadConfiguration{"Missing", BadConfiguration::Missing, "cannot be read: there is no such file", true},
        BadConfiguration{"Empty", BadConfiguration::Empty, "cannot be read: No document element found", true},
        BadConfiguration{"AFolder", BadConfiguration::Folder, "cannot be read: it is a folder", true},
        BadConfiguration{"Malformed", BadConfiguration::Malformed, "cannot be read: Start-end tags mismatch at byte", true},
        BadConfiguration{"WithoutClient", BadConfiguration::WithoutClient,
                         "gives no settings: no element client below root", false}),
    test_support::RowName());

TEST_F(StartFailuresTest, AConfigurationThatReadsSaysNothing)
{
    writeConf("<client Name=\"later\"/>");
    EXPECT_TRUE(stderrOf([&] { app->loadConf(); }).isEmpty());
}

// A refused page package and what is said about it.
struct RefusedPackage {
    const char* name;
    enum Kind { Truncated, Altered, NotAPackage, TooShort, Empty } kind;
    const char* says;
};

void PrintTo(const RefusedPackage& row, std::ostream* os) { *os << row.name; }

class ARefusedPackage : public StartFailuresTest, public ::testing::WithParamInterface<RefusedPackage> {};

TEST_P(ARefusedPackage, ServesNoEarlierPagesAndTheStartPageSaysWhy)
{
    const QByteArray good = packer::packEntries({{"template/main/index.html", "<p>new</p>"}});
    ASSERT_FALSE(good.isEmpty());
    QByteArray package;
    switch (GetParam().kind) {
    case RefusedPackage::Truncated:
        package = good.left(good.size() - 10);
        break;
    case RefusedPackage::Altered:
        package = good;
        package[good.size() - 3] = char(package[good.size() - 3] ^ 0x20);
        break;
    case RefusedPackage::NotAPackage:
        package = QByteArray(300, 'x');
        break;
    case RefusedPackage::TooShort:
        package = good.left(100);
        break;
    case RefusedPackage::Empty:
        break;
    }
    ASSERT_TRUE(writeFile(path("skn.dat"), package));
    const QString err = stderrOf([&] { openWindow(); });
    const QString why = "the page package " + path("skn.dat") + " was refused: " + GetParam().says;
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

INSTANTIATE_TEST_SUITE_P(StartFailuresTest, ARefusedPackage,
    ::testing::Values(RefusedPackage{"Truncated", RefusedPackage::Truncated, "its digest does not match its contents"},
        RefusedPackage{"Altered", RefusedPackage::Altered, "its digest does not match its contents"},
        RefusedPackage{"NotAPackage", RefusedPackage::NotAPackage, "its digest does not match its contents"},
        RefusedPackage{"TooShort", RefusedPackage::TooShort, "it is too short to be a package (100 bytes)"},
        RefusedPackage{"Empty", RefusedPackage::Empty, "it is too short to be a package (0 bytes)"}),
    test_support::RowName());

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
