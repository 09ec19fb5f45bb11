#include "row_name.h"
#include "test_app.h"
#include "test_files.h"

#include "app/conf.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using test_support::RowName;

class ConfTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app = TestApplication::get();
        ASSERT_TRUE(dir.isValid());
        setAppDirPath(dir.path() + "/");
    }
    QString confPath() const { return dir.path() + "/Resources/conf.xml"; }
    QString definePath() const { return dir.path() + "/Resources/define.xml"; }

    Application* app = nullptr;
    QTemporaryDir dir;
};

QByteArray utf16(const QString& text, bool bigEndian)
{
    QByteArray out(bigEndian ? "\xFE\xFF" : "\xFF\xFE", 2);
    for (QChar c : text) {
        const char hi = static_cast<char>(c.unicode() >> 8), lo = static_cast<char>(c.unicode() & 0xFF);
        out.append(bigEndian ? hi : lo).append(bigEndian ? lo : hi);
    }
    return out;
}

TEST_F(ConfTest, ClientAttributesAndComputedKeysInKeyOrder)
{
    ASSERT_TRUE(test_support::writeFile(confPath(),
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<root><client Name=\"Tarquil\xE5\x8A\xA9\xE6\x89\x8B\" Debug=\"true\"/>"
        "<client Name=\"second\" Extra=\"x\"/><conf deviceId=\"046DC52B\"/></root>\n"));
    app->loadConf();
    const ConfMap conf = app->confValues();
    EXPECT_EQ(conf.keys(), (QStringList{"Debug", "IpAddress", "MacAddress", "Name"}));
    EXPECT_EQ(conf.value("Name"), QString::fromUtf8("Tarquil\xE5\x8A\xA9\xE6\x89\x8B"));
    EXPECT_EQ(conf.value("MacAddress"), firstMacAddress());
    EXPECT_EQ(conf.value("IpAddress"), firstIpv4Address());
    EXPECT_NE(conf.value("IpAddress"), "127.0.0.1");
    EXPECT_TRUE(app->confText().contains("deviceId=\"046DC52B\""));
    EXPECT_EQ(pageRootFor(conf, "/opt/tm", "/run/user/1/tm"), "/opt/tm/template");
}

TEST_F(ConfTest, DocumentsWithoutClientGiveOnlyComputedKeys)
{
    struct Case {
        const char* xml;
        QStringList keys;
    } cases[] = {
        {"<root/>", {"IpAddress", "MacAddress"}},
        {"<other><client Name=\"n\"/></other>", {"IpAddress", "MacAddress"}},
        {"<root><conf/><client Version=\"2.1.0\"/></root>", {"IpAddress", "MacAddress", "Version"}},
        {"<root><client/></root>", {"IpAddress", "MacAddress"}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(test_support::writeFile(confPath(), c.xml));
        app->loadConf();
        EXPECT_EQ(app->confValues().keys(), c.keys) << c.xml;
        EXPECT_EQ(app->confText(), QString::fromUtf8(c.xml));
    }
}

TEST_F(ConfTest, MissingOrMalformedFileKeepsPreviousValuesAndText)
{
    const QByteArray good = "<root><client Name=\"kept\" CloseFunc=\"Closeapp\"/></root>";
    ASSERT_TRUE(test_support::writeFile(confPath(), good));
    app->loadConf();
    ASSERT_EQ(app->confValues().value("Name"), "kept");

    for (const QByteArray& bad : {QByteArray("<root><client Name=\"x\"></root>"), QByteArray("not xml at all"),
             QByteArray()}) {
        ASSERT_TRUE(test_support::writeFile(confPath(), bad));
        app->loadConf();
        EXPECT_EQ(app->confValues().value("Name"), "kept") << bad.constData();
        EXPECT_EQ(app->confText(), QString::fromUtf8(good));
    }
    ASSERT_TRUE(QFile::remove(confPath()));
    app->loadConf();
    EXPECT_EQ(app->confValues().value("CloseFunc"), "Closeapp");
    EXPECT_EQ(app->confText(), QString::fromUtf8(good));
}

TEST_F(ConfTest, EncodingsAreDetected)
{
    const QString name = QString::fromUtf8("Tarquil\xE5\x8A\xA9\xE6\x89\x8B");
    const QString doc = "<?xml version=\"1.0\"?><root><client Name=\"" + name + "\" ClientSize=\"1200,800\"/></root>";
    struct Case {
        const char* label;
        QByteArray bytes;
        QString expected;
    } cases[] = {
        {"utf-8", doc.toUtf8(), name},
        {"utf-8 with BOM", "\xEF\xBB\xBF" + doc.toUtf8(), name},
        {"utf-16le", utf16(doc, false), name},
        {"utf-16be", utf16(doc, true), name},
        {"latin-1 declared", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><root><client Name=\"Caf\xE9\" "
                             "ClientSize=\"1200,800\"/></root>",
            QString::fromUtf8("Caf\xC3\xA9")},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(test_support::writeFile(confPath(), c.bytes));
        app->loadConf();
        EXPECT_EQ(app->confValues().value("Name"), c.expected) << c.label;
        EXPECT_EQ(clientSizeFor(app->confValues()), QSize(1200, 800)) << c.label;
    }
    // The kept text is decoded by its byte-order mark as well.
    ASSERT_TRUE(test_support::writeFile(confPath(), utf16(doc, false)));
    app->loadConf();
    EXPECT_EQ(app->confText(), doc);
}

TEST_F(ConfTest, DefineTableUpperCasesNamesAndLaterEntriesWin)
{
    ASSERT_TRUE(test_support::writeFile(definePath(),
        "<keyboard><key value=\"a\" hidCode=\"04\"/><key value=\"A\" hidCode=\"05\"/>"
        "<anything value=\"Enter\" hidCode=\"28\"/><key hidCode=\"99\"/><key value=\"nocode\"/>"
        "<!-- comment --></keyboard>"));
    EXPECT_TRUE(app->loadDefine());
    EXPECT_EQ(app->hidCodeOfKey("A"), "05");
    EXPECT_EQ(app->hidCodeOfKey("a"), "");
    EXPECT_EQ(app->hidCodeOfKey("ENTER"), "28");
    EXPECT_EQ(app->hidCodeOfKey("Enter"), "");
    EXPECT_EQ(app->hidCodeOfKey(""), "99");
    EXPECT_EQ(app->hidCodeOfKey("NOCODE"), "");
    EXPECT_EQ(app->hidCodeOfKey("F13"), "");

    // A later load adds to the table; a malformed file adds nothing but still loads.
    ASSERT_TRUE(test_support::writeFile(definePath(), "<keyboard><key value=\"f13\" hidCode=\"68\"/></keyboard>"));
    EXPECT_TRUE(app->loadDefine());
    EXPECT_EQ(app->hidCodeOfKey("F13"), "68");
    EXPECT_EQ(app->hidCodeOfKey("A"), "05");
    ASSERT_TRUE(test_support::writeFile(definePath(), "<keyboard><key value=\"Z\" hidCode=\"1D\""));
    EXPECT_TRUE(app->loadDefine());
    EXPECT_EQ(app->hidCodeOfKey("Z"), "");
    EXPECT_EQ(app->hidCodeOfKey("F13"), "68");
}

TEST_F(ConfTest, MissingDefineFileFails)
{
    EXPECT_FALSE(app->loadDefine());
    QDir().mkpath(definePath()); // a folder in its place cannot be read either
    EXPECT_FALSE(app->loadDefine());
}

TEST(ConfValues, PageRootFollowsDebugExactly)
{
    const QString app = "/opt/tm", temp = "/run/user/1000/tarquilmervane";
    struct Case {
        const char* debug; // nullptr: key missing
        QString root;
    } cases[] = {
        {"true", app + "/template"},
        {"True", temp + "/template"},
        {"1", temp + "/template"},
        {"", temp + "/template"},
        {nullptr, temp + "/template"},
    };
    for (const Case& c : cases) {
        ConfMap conf;
        if (c.debug)
            conf.insert("Debug", c.debug);
        EXPECT_EQ(pageRootFor(conf, app, temp), c.root) << (c.debug ? c.debug : "(missing)");
    }
}

const char kPrefix[] = "velmora://settings/local/client/"; // 32 characters

// "{prefix}" in a load path stands for kPrefix.
struct LoadPath {
    const char* name;
    const char* loadPath;
    const char* subPath;
};

void PrintTo(const LoadPath& row, std::ostream* os) { *os << row.name; }

class ImageSubPath : public ::testing::TestWithParam<LoadPath> {};

TEST_P(ImageSubPath, FromLoadPath)
{
    ASSERT_EQ(QString(kPrefix).size(), 32);
    const QString loadPath = QString(GetParam().loadPath).replace("{prefix}", kPrefix);
    EXPECT_EQ(imageSubPathFor(loadPath), QString(GetParam().subPath)) << qPrintable(loadPath);
}

INSTANTIATE_TEST_SUITE_P(ConfValues, ImageSubPath,
    ::testing::Values(LoadPath{"OneFolder", "{prefix}main/index.html", "main"},
        LoadPath{"TwoFolders", "{prefix}main/sub/page.html", "main/sub"},
        LoadPath{"DirectlyBelowThePrefix", "{prefix}index.html", ""}, // images beside the start page
        LoadPath{"FileNamesBetweenFolders", "{prefix}a/b.html/c/d.html", "a/c"},
        LoadPath{"Short", "short", ""},
        LoadPath{"ThePrefixAlone", "{prefix}", ""},
        LoadPath{"Empty", "", ""}),
    RowName());

TEST(ConfValues, ImageRootLiesBelowThePageRoot)
{
    Application* app = TestApplication::get();
    app->setPageRoot("/tmp/x/template");
    app->setImageRoot(imageSubPathFor("short"));
    EXPECT_EQ(app->imageRoot(), "/tmp/x/template/");
    app->setImageRoot(imageSubPathFor(QString(kPrefix) + "main/index.html"));
    EXPECT_EQ(app->pageRoot(), "/tmp/x/template");
    EXPECT_EQ(app->imageRoot(), "/tmp/x/template/main");
}

struct ClientSizeValue {
    const char* name;
    const char* value; // nullptr: key missing
    QSize size;
};

void PrintTo(const ClientSizeValue& row, std::ostream* os) { *os << row.name; }

class ClientSize : public ::testing::TestWithParam<ClientSizeValue> {};

TEST_P(ClientSize, FallsBackPerPart)
{
    const ClientSizeValue& c = GetParam();
    ConfMap conf;
    if (c.value)
        conf.insert("ClientSize", c.value);
    EXPECT_EQ(clientSizeFor(conf), c.size) << (c.value ? c.value : "(missing)");
}

INSTANTIATE_TEST_SUITE_P(ConfValues, ClientSize,
    ::testing::Values(ClientSizeValue{"TheDefault", "1000,700", {1000, 700}},
        ClientSizeValue{"Another", "1280,800", {1280, 800}},
        ClientSizeValue{"Blanks", " 1280 , 800 ", {1280, 800}},
        ClientSizeValue{"AThirdPart", "1280,800,5", {1280, 800}},
        ClientSizeValue{"Missing", nullptr, {1000, 700}},
        ClientSizeValue{"Empty", "", {1000, 700}},
        ClientSizeValue{"WidthOnly", "1280", {1280, 700}},
        ClientSizeValue{"EmptyHeight", "1280,", {1280, 700}},
        ClientSizeValue{"EmptyWidth", ",800", {1000, 800}},
        ClientSizeValue{"WidthNoNumber", "abc,800", {1000, 800}},
        ClientSizeValue{"HeightNoNumber", "1280,abc", {1280, 700}},
        ClientSizeValue{"Zero", "0,0", {1000, 700}},
        ClientSizeValue{"NegativeWidth", "-5,600", {1000, 600}},
        ClientSizeValue{"OtherSeparator", "1280x800", {1000, 700}},
        ClientSizeValue{"WidthBeyondAnInt", "99999999999,800", {1000, 800}}),
    RowName());

} // namespace
