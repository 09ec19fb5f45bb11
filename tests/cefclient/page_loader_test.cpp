// The local page loader and the "velmora" scheme handler on the test host, with a small page root:
// which file a URL names, its MIME type, images inlined from their own bytes, raw files served as
// they are, and nothing served outside the roots.
#include "handler_fixture.h"

#include "cefclient/page_loader.h"

#include "row_name.h"
#include "test_files.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include <ostream>

using namespace cefclient_test;

namespace {

const std::string kLocal = "velmora://settings/local/client/";
// The scheme handler drops the first 33 characters: "velmora://settings/" and 14 more.
const std::string kOther = "velmora://settings/xxxxxxxxxxxxxx";

QByteArray imageBytes(const char* format, Qt::GlobalColor color)
{
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// A 1 x 1 GIF (no encoder for it in Qt).
QByteArray gifBytes()
{
    return QByteArray::fromHex("47494638396101000100800000ffffff00000021f90401000000002c00000000010001000002024401003b");
}

// Bytes that are not UTF-8: a page loader that reads them as text changes them.
QByteArray binaryBytes() { return QByteArray::fromHex("774f4632000100ff80fe00c3287f"); }

QString dataUri(const char* type, const QByteArray& bytes)
{
    return QString("data:image/%1;base64,%2").arg(type, QString::fromLatin1(bytes.toBase64()));
}

class PageLoaderTest : public HandlerTest {
protected:
    void SetUp() override
    {
        HandlerTest::SetUp();
        ASSERT_TRUE(temp.isValid());
        root = temp.path() + "/template";
        png = imageBytes("PNG", Qt::red);
        jpg = imageBytes("JPEG", Qt::blue);
        const QString main = root + "/main";
        put(main + "/index.html",
            "<img src=\"image/logo.png\"><img src=\"image/photo.jpg\"><img src=\"image/anim.gif\">"
            "<img src=\"image/missing.png\"><img src=\"image/vector.svg\"><img src=\"image/broken.png\">"
            "<img src='image/logo.png'><img src=\"./image/logo.png\"><img src=\"image/../../../secret.png\">");
        put(main + "/css/style.css", "a { background: url(../image/logo.png); }\n"
                                     "b { background: url(\"../image/logo.png\"); }\n"
                                     "c { background: url(image/logo.png); }\n"
                                     "d { background: url(../image/logo.png); }\n");
        put(main + "/js/app.js", "var html = '<img src=\"image/logo.png\">';");
        put(main + "/data/list.json", "{\"src\":\"image/logo.png\"}");
        put(main + "/fonts/face.woff2", binaryBytes());
        put(main + "/my page.html", "spaced");
        put(main + "/empty.html", "");
        put(main + "/image/logo.png", png);
        put(main + "/image/photo.jpg", jpg);
        put(main + "/image/anim.gif", gifBytes());
        put(main + "/image/vector.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"/>");
        put(main + "/image/broken.png", "not an image");
        put(temp.path() + "/secret.txt", "secret");
        put(temp.path() + "/secret.png", png);
        TestApplication::get()->setPageRoot(root);
        TestApplication::get()->setImageRoot("main");

        // The scheme handler's folder lies beside the program; this test's files in a folder of their own.
        sub = QString("pageloader-%1").arg(QCoreApplication::applicationPid());
        defaults = QCoreApplication::applicationDirPath() + "/template/default/" + sub;
        put(defaults + "/page.html", "<p>default page</p>");
        put(defaults + "/style.css", "p { color: red }");
        put(defaults + "/app.js", "var a = 1;");
        put(defaults + "/font.woff2", binaryBytes());
        put(QCoreApplication::applicationDirPath() + "/template/" + sub + "-outside.txt", "outside");

        handler->RegisterSchemeHandlerFactory("velmora", "settings");
        Create(); // resource requests are asked of the oldest browser's client
    }
    void TearDown() override
    {
        QDir(defaults).removeRecursively();
        QFile::remove(QCoreApplication::applicationDirPath() + "/template/" + sub + "-outside.txt");
        TestApplication::get()->setPageRoot(QString());
        TestApplication::get()->setImageRoot(QString());
        HandlerTest::TearDown();
    }
    static void put(const QString& path, const QByteArray& bytes) { ASSERT_TRUE(test_support::writeFile(path, bytes)); }

    cef_test::TestHost::Response Get(const std::string& url, int buffer = 4096) { return host.Request(url, buffer); }
    std::string Sub() const { return sub.toStdString(); }

    QTemporaryDir temp;
    QString root;
    QString sub;
    QString defaults;
    QByteArray png;
    QByteArray jpg;
};

// A URL with "{sub}" standing for the test's folder of the scheme handler's files.
std::string withSub(const std::string& url, const std::string& sub)
{
    std::string out = url;
    const std::string mark = "{sub}";
    for (size_t at = out.find(mark); at != std::string::npos; at = out.find(mark, at + sub.size()))
        out.replace(at, mark.size(), sub);
    return out;
}

struct Served {
    const char* name;
    std::string url;
    int status;       // 0: not served at all
    const char* mime; // when served
    QByteArray body;  // exact body; the page root's PNG when png
    bool png = false;
};

void PrintTo(const Served& row, std::ostream* os) { *os << row.name; }

class ServedUrls : public PageLoaderTest, public ::testing::WithParamInterface<Served> {};

TEST_P(ServedUrls, UrlsNameTheirFilesWithATypeByExtension)
{
    const Served& c = GetParam();
    const cef_test::TestHost::Response r = Get(withSub(c.url, Sub()));
    if (c.status == 0) {
        EXPECT_FALSE(r.handled);
        return;
    }
    ASSERT_TRUE(r.handled);
    EXPECT_TRUE(r.completed);
    EXPECT_EQ(r.head.status, c.status);
    if (c.mime) {
        EXPECT_EQ(r.head.mime_type, c.mime);
    }
    EXPECT_EQ(QByteArray::fromStdString(r.body), c.png ? png : c.body);
}

INSTANTIATE_TEST_SUITE_P(
    Urls, ServedUrls,
    ::testing::Values(
        // Local pages, from the page root.
        Served{"Json", kLocal + "main/data/list.json", 200, "application/json", "{\"src\":\"image/logo.png\"}"},
        Served{"Font", kLocal + "main/fonts/face.woff2", 200, "font/woff2", binaryBytes()},
        Served{"Png", kLocal + "main/image/logo.png", 200, "image/png", "", true},
        Served{"Gif", kLocal + "main/image/anim.gif", 200, "image/gif", gifBytes()},
        Served{"EscapedBlank", kLocal + "main/my%20page.html", 200, "text/html", "spaced"},
        Served{"QueryAndFragment", kLocal + "main/my%20page.html?v=2#top", 200, "text/html", "spaced"},
        Served{"JsonWithAQuery", kLocal + "main/data/list.json?v=1", 200, "application/json",
               "{\"src\":\"image/logo.png\"}"},
        // Not local pages of the page root: the scheme handler's folder, which has none of them.
        Served{"MissingPage", kLocal + "main/nothere.html", 404, "text/html", ""},
        Served{"EmptyPage", kLocal + "main/empty.html", 404, "text/html", ""},
        Served{"NoClientFolder", "velmora://settings/local/main/data/list.json", 404, nullptr, ""},
        Served{"LongerFolderName", "velmora://settings/localization/main/data/list.json", 404, nullptr, ""},
        // The scheme handler's own files (14 characters after the host are dropped).
        Served{"HandlersStyleSheet", kOther + "{sub}/style.css", 200, "text/css", "p { color: red }"},
        Served{"HandlersScript", kOther + "{sub}/app.js", 200, "application/javascript", "var a = 1;"},
        Served{"HandlersFont", kOther + "{sub}/font.woff2", 200, "font/woff2", binaryBytes()},
        Served{"HandlersScriptWithAQuery", kOther + "{sub}/app.js?x=%22#y", 200, "application/javascript",
               "var a = 1;"},
        Served{"HandlersMissingScript", kOther + "{sub}/gone.js", 404, "application/javascript", ""},
        // A client page of that folder is named without ".html", one more character dropped.
        Served{"HandlersPage", kLocal + "x{sub}/page", 200, "text/html", "<p>default page</p>"},
        Served{"HandlersPageWithAQuery", kLocal + "x{sub}/page?v=1", 200, "text/html", "<p>default page</p>"},
        // Other schemes are not the program's.
        Served{"OtherScheme", "http://localhost/local/client/main/data/list.json", 0, nullptr, ""}),
    test_support::RowName());

struct Escape {
    const char* name;
    std::string url;
};

void PrintTo(const Escape& row, std::ostream* os) { *os << row.name; }

class Escapes : public PageLoaderTest, public ::testing::WithParamInterface<Escape> {};

TEST_P(Escapes, NothingOutsideTheRootsIsServed)
{
    const cef_test::TestHost::Response r = Get(withSub(GetParam().url, Sub()));
    EXPECT_NE(r.head.status, 200);
    EXPECT_TRUE(r.body.empty());
}

INSTANTIATE_TEST_SUITE_P(Urls, Escapes,
                         ::testing::Values(Escape{"DotsOutOfThePageRoot", kLocal + "main/../../secret.txt"},
                                           Escape{"EscapedDots", kLocal + "main/%2e%2e/%2E%2E/secret.txt"},
                                           Escape{"EscapedSlashes", kLocal + "..%2f..%2fsecret.txt"},
                                           Escape{"EscapedBackslashes", kLocal + "main/..%5c..%5csecret.txt"},
                                           Escape{"DotsOutOfTheHandlersFolder", kOther + "../{sub}-outside.txt"},
                                           Escape{"EscapedDotsOutOfTheHandlersFolder", kOther + "%2e%2e/{sub}-outside.txt"},
                                           Escape{"DotsBelowTheHandlersFolder", kOther + "{sub}/../../{sub}-outside.txt"}),
                         test_support::RowName());

// A link inside the page root that leads out of it is not followed.
TEST_F(PageLoaderTest, NothingOutsideTheRootsIsServedThroughALink)
{
    ASSERT_TRUE(QFile::link(temp.path() + "/secret.txt", root + "/main/link.txt"));
    const cef_test::TestHost::Response linked = Get(kLocal + "main/link.txt");
    EXPECT_TRUE(linked.body.empty());
}

TEST_F(PageLoaderTest, APageGetsItsImagesInlinedFromTheirOwnBytes)
{
    const cef_test::TestHost::Response r = Get(kLocal + "main/index.html");
    ASSERT_EQ(r.head.status, 200);
    EXPECT_EQ(r.head.mime_type, "text/html");
    const QString page = QString::fromStdString(r.body);
    EXPECT_TRUE(page.contains("<img src=\"" + dataUri("png", png) + "\">"));
    EXPECT_TRUE(page.contains("<img src=\"" + dataUri("jpeg", jpg) + "\">"));   // the JPEG's own bytes
    EXPECT_TRUE(page.contains("<img src=\"" + dataUri("gif", gifBytes()) + "\">")); // GIF stays GIF
    // What cannot be inlined keeps its reference, so that the browser can still load it.
    for (const char* kept : {"<img src=\"image/missing.png\">", "<img src=\"image/vector.svg\">",
                             "<img src=\"image/broken.png\">", "<img src='image/logo.png'>",
                             "<img src=\"./image/logo.png\">", "<img src=\"image/../../../secret.png\">"})
        EXPECT_TRUE(page.contains(kept)) << kept;
}

TEST_F(PageLoaderTest, StyleSheetsAndScriptsGetTheirImagesInlinedToo)
{
    const cef_test::TestHost::Response css = Get(kLocal + "main/css/style.css");
    EXPECT_EQ(css.head.mime_type, "text/css");
    const QString sheet = QString::fromStdString(css.body);
    EXPECT_EQ(sheet.count("url(" + dataUri("png", png) + ")"), 2); // from the image root, any folder
    EXPECT_TRUE(sheet.contains("url(\"../image/logo.png\")"));
    EXPECT_TRUE(sheet.contains("url(image/logo.png)"));

    const cef_test::TestHost::Response js = Get(kLocal + "main/js/app.js");
    EXPECT_EQ(js.head.mime_type, "application/javascript");
    EXPECT_EQ(QString::fromStdString(js.body), "var html = '<img src=\"" + dataUri("png", png) + "\">';");
}

TEST_F(PageLoaderTest, ResponsesCarryTheirHeadersAndArriveWholeInSmallReads)
{
    const cef_test::TestHost::Response r = Get(kOther + Sub() + "/font.woff2", 3);
    EXPECT_EQ(QByteArray::fromStdString(r.body), binaryBytes());
    EXPECT_GT(r.chunks, 3);
    EXPECT_EQ(r.head.length, binaryBytes().size());
    const std::multimap<std::string, std::string> expected = {{"Access-Control-Allow-Credentials", "true"},
                                                              {"Access-Control-Allow-Origin", "*"},
                                                              {"Cache-Control", "no-cache"}};
    EXPECT_EQ(r.head.headers, expected);

    const cef_test::TestHost::Response page = Get(kLocal + "main/index.html", 5);
    EXPECT_EQ(page.body, Get(kLocal + "main/index.html").body);
    EXPECT_GT(page.chunks, 10);
}

// The scheme handler gives the type of the address even when it names no file; Qt's type database
// reads past the end of its cache for names with NUL characters.
TEST_F(PageLoaderTest, AddressesWithNulCharactersNameNoFileAndNoType)
{
    const cef_test::TestHost::Response r = Get(kOther + Sub() + "/font" + std::string(40, '\0') + ".woff2");
    ASSERT_TRUE(r.handled);
    EXPECT_EQ(r.head.status, 404);
    EXPECT_EQ(r.head.mime_type, "application/octet-stream");
    EXPECT_TRUE(r.body.empty());
    for (const char* extension : {".gif", ".png", ".woff2", ".svgz", ""}) {
        for (int n = 1; n <= 64; ++n) {
            const QString nuls(n, QChar(0));
            EXPECT_EQ(page_loader::MimeTypeOf("/t/anim" + nuls + extension).toStdString(), "application/octet-stream");
            EXPECT_EQ(page_loader::MimeTypeOf(QString("/t/a") + extension + nuls).toStdString(),
                      "application/octet-stream");
        }
    }
}

TEST(PageLoaderParts, RegexCapturesGiveTheFirstGroupOfEveryMatchInOrder)
{
    EXPECT_EQ(RegexCaptures("url(../a.png) x url(b) url(", "url(([^)]*))"),
              QStringList({"(../a.png", "(b", "("}));
    EXPECT_EQ(RegexCaptures("src=\"image/a.png\" src=\"img/b.png\" src=\"image/c\"", "src=\"(image/[^\"]*)\""),
              QStringList({"image/a.png", "image/c"}));
    EXPECT_TRUE(RegexCaptures("nothing", "src=\"(image/[^\"]*)\"").isEmpty());
}

struct TypeCase {
    const char* name;
    const char* path;
    const char* mime;
};

void PrintTo(const TypeCase& row, std::ostream* os) { *os << row.name; }

class PageLoaderTypes : public ::testing::TestWithParam<TypeCase> {};

TEST_P(PageLoaderTypes, TypesByExtension)
{
    EXPECT_EQ(page_loader::MimeTypeOf(GetParam().path), GetParam().mime);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PageLoaderTypes,
    ::testing::Values(TypeCase{"Html", "a/index.html", "text/html"}, TypeCase{"HtmInCapitals", "a/INDEX.HTM", "text/html"},
                      TypeCase{"Script", "main.js", "application/javascript"}, TypeCase{"StyleSheet", "s.css", "text/css"},
                      TypeCase{"Json", "list.json", "application/json"}, TypeCase{"Png", "x.png", "image/png"},
                      TypeCase{"Jpeg", "x.jpeg", "image/jpeg"}, TypeCase{"Svg", "x.svg", "image/svg+xml"},
                      TypeCase{"NoExtension", "noextension", "application/octet-stream"},
                      TypeCase{"UnknownExtension", "x.unknownext", "application/octet-stream"}),
    test_support::RowName());

} // namespace
