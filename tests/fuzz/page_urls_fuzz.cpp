// The local page loader and the "velmora" scheme handler with URLs, and the image inliner with page
// files. The input is a page file's text, a NUL byte, then one URL per line; without a NUL byte it
// is URLs only. The text is written as a page, a style sheet and a script below the page root and
// as a page of the scheme handler's folder, and each of them is asked for, then every URL.
// Beside both roots lie sentinel files (a text, a PNG image and links to them from inside); checked
// for every response: it is complete, it never holds a sentinel's bytes or an image of one, a text
// it serves with images inlined is UTF-8, and any other file it serves has exactly the bytes of a
// file inside a root. The loader's file lookup is checked on its own too: a file it names lies
// inside the root once links are followed.
#include "fuzz_app.h"
#include "fuzz_check.h"
#include "fuzz_sandbox.h"
#include "page_events.h"

#include "app/application.h"
#include "app/path_containment.h"
#include "cefclient/page_loader.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSet>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QUuid>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const int kMaxUrls = 16;
const char kLocal[] = "velmora://settings/local/client/";
// The scheme handler drops the first 33 characters of an address.
const char kOther[] = "velmora://settings/xxxxxxxxxxxxxx";

void put(const QString& path, const QByteArray& bytes)
{
    FUZZ_CHECK(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
}

void makeLink(const QString& target, const QString& path)
{
    QFile::remove(path);
    FUZZ_CHECK(QFile::link(target, path));
}

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    FUZZ_CHECK(image.save(&buffer, format));
    return bytes;
}

QImage filled(int width, int height, Qt::GlobalColor color)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

struct Roots {
    QTemporaryDir temp;
    // The page root, with the image root "main" below it.
    QString pages = temp.filePath(QStringLiteral("template"));
    // The scheme handler's folder (fixed below the program's folder) and this target's part of it.
    QString schemeBase = QCoreApplication::applicationDirPath() + QStringLiteral("/template/default");
    QString schemeOwn = schemeBase + QStringLiteral("/fuzz");
    // Text that no file inside the roots holds and no input can know.
    QByteArray marker = "sentinel-" + QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    // An image that no file inside the roots holds.
    QByteArray secretImage;

    Roots()
    {
        FUZZ_CHECK(temp.isValid());
        QImage image = filled(4, 4, Qt::black);
        for (int i = 0; i < marker.size() && i < 16; ++i)
            image.setPixel(i % 4, i / 4, qRgb(marker.at(i), i, 255 - marker.at(i)));
        secretImage = encoded(image, "PNG");

        const QString program = QCoreApplication::applicationDirPath();
        for (const QString& dir : {temp.path(), temp.filePath(QStringLiteral("templatex")),
                                   program + QStringLiteral("/template"),
                                   program + QStringLiteral("/template/defaultx")}) {
            put(dir + QStringLiteral("/secret.txt"), marker + "\n");
            put(dir + QStringLiteral("/secret.png"), secretImage);
        }

        const QString main = pages + QStringLiteral("/main");
        put(main + QStringLiteral("/index.html"),
            "<img src=\"image/logo.png\"><img src=\"image/photo.jpg\"><img src=\"image/anim.gif\">"
            "<img src=\"image/missing.png\"><img src=\"image/../../secret.png\"><img src=\"image/out.png\">");
        put(main + QStringLiteral("/css/style.css"), "a { background: url(../image/logo.png); }\n");
        put(main + QStringLiteral("/js/app.js"), "var html = '<img src=\"image/logo.png\">';");
        put(main + QStringLiteral("/data/list.json"), "{\"src\":\"image/logo.png\"}");
        put(main + QStringLiteral("/fonts/face.woff2"), QByteArray::fromHex("774f4632000100ff80fe00c3287f"));
        put(main + QStringLiteral("/my page.html"), "spaced");
        put(main + QStringLiteral("/image/logo.png"), encoded(filled(3, 2, Qt::red), "PNG"));
        put(main + QStringLiteral("/image/photo.jpg"), encoded(filled(3, 2, Qt::blue), "JPEG"));
        put(main + QStringLiteral("/image/anim.gif"),
            QByteArray::fromHex("47494638396101000100800000ffffff00000021f90401000000002c00000000010001000002024401003b"));
        put(main + QStringLiteral("/image/broken.png"), "not an image");
        // Links from inside the roots to the sentinels beside them.
        makeLink(temp.filePath(QStringLiteral("secret.txt")), main + QStringLiteral("/link.txt"));
        makeLink(temp.filePath(QStringLiteral("secret.png")), main + QStringLiteral("/image/out.png"));
        makeLink(temp.path(), main + QStringLiteral("/up"));

        put(schemeOwn + QStringLiteral("/page.html"), "<p><img src=\"image/logo.png\"></p>");
        put(schemeOwn + QStringLiteral("/style.css"), "p { background: url(../image/photo.jpg) }");
        put(schemeOwn + QStringLiteral("/font.woff2"), QByteArray::fromHex("774f4632000100ff80fe00c3287f00"));
        makeLink(program + QStringLiteral("/template/secret.txt"), schemeOwn + QStringLiteral("/link.txt"));
        makeLink(program + QStringLiteral("/template"), schemeOwn + QStringLiteral("/up"));

        Application* app = appInstance();
        app->setPageRoot(pages);
        app->setImageRoot(QStringLiteral("main"));
    }

    // What this target wrote below the program's folder.
    QStringList madeBesideTheProgram() const
    {
        const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/template");
        return {schemeOwn, program + QStringLiteral("/defaultx"), program + QStringLiteral("/secret.txt"),
                program + QStringLiteral("/secret.png")};
    }

    // The files the written page text goes to, below both roots.
    QStringList pageFiles() const
    {
        return {pages + QStringLiteral("/main/fuzz.html"), pages + QStringLiteral("/main/css/fuzz.css"),
                pages + QStringLiteral("/main/js/fuzz.js"), schemeOwn + QStringLiteral("/fuzz.html")};
    }

    // The bytes of every file inside the roots, links not followed.
    QSet<QByteArray> insideFiles() const
    {
        QSet<QByteArray> out;
        for (const QString& root : {pages, schemeBase}) {
            const QMap<QString, QByteArray> files = fuzz_sandbox::filesBelow(root);
            for (const QByteArray& bytes : files)
                out.insert(bytes);
        }
        return out;
    }

    bool holdsSentinel(const QByteArray& body) const
    {
        return body.contains(marker) || body.contains(secretImage) || body.contains(secretImage.toBase64());
    }
};

bool isUtf8(const QByteArray& bytes)
{
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0;
}

bool servedAsPage(const std::string& mime)
{
    return mime == "text/html" || mime == "application/javascript" || mime == "text/css";
}

void request(cef_test::TestHost& host, const Roots& roots, const std::string& url)
{
    const cef_test::TestHost::Response r = host.Request(url);
    if (!r.handled)
        return;
    FUZZ_CHECK(r.completed);
    const QByteArray body = QByteArray::fromStdString(r.body);
    FUZZ_CHECK(!roots.holdsSentinel(body));
    if (r.head.status != 200 || body.isEmpty())
        return;
    if (servedAsPage(r.head.mime_type))
        FUZZ_CHECK(isUtf8(body));
    else
        FUZZ_CHECK(roots.insideFiles().contains(body));
}

// The lookup alone, on both roots.
void lookUp(const Roots& roots, const QString& urlPart)
{
    for (const QString& root : {roots.pages, roots.schemeBase}) {
        const QString path = page_loader::FileBelow(root, urlPart);
        if (path.isEmpty())
            continue;
        FUZZ_CHECK(QFileInfo(path).isFile());
        FUZZ_CHECK(path_containment::insideResolved(path, root, path_containment::Itself::Outside));
    }
}

struct Process {
    TestApplication* app = fuzzApplication();
    test_support::MainBrowserEvents* events = new test_support::MainBrowserEvents;
    Roots roots;

    Process()
    {
        // Resource requests are asked of the oldest browser's client: the main browser's.
        events->handler()->RegisterSchemeHandlerFactory("velmora", "settings");
        cef_test::WaitForIdle();
        static test_support::MainBrowserEvents* const runtime = events;
        static const QStringList made = roots.madeBesideTheProgram();
        // After the process object's destructor: the runtime ends, this target's files go.
        std::atexit([] {
            delete runtime;
            for (const QString& path : made)
                QFileInfo(path).isDir() ? QDir(path).removeRecursively() : QFile::remove(path);
        });
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Process p;
    const QByteArray input(reinterpret_cast<const char*>(data), int(size));
    const int nul = input.indexOf('\0');
    const QStringList pageFiles = p.roots.pageFiles();
    std::vector<std::string> urls;
    if (nul >= 0) {
        for (const QString& file : pageFiles)
            put(file, input.left(nul));
        urls = {std::string(kLocal) + "main/fuzz.html", std::string(kLocal) + "main/css/fuzz.css",
                std::string(kLocal) + "main/js/fuzz.js", std::string(kOther) + "fuzz/fuzz.html",
                // The scheme handler's page, named without its extension.
                std::string(kLocal) + "xfuzz/fuzz"};
    }
    const QList<QByteArray> lines = input.mid(nul + 1).split('\n');
    for (int i = 0; i < lines.size() && i < kMaxUrls; ++i) {
        urls.push_back(lines.at(i).toStdString());
        const QString text = QString::fromUtf8(lines.at(i));
        for (const char* prefix : {kLocal, kOther})
            if (text.startsWith(QLatin1String(prefix)))
                lookUp(p.roots, text.mid(int(std::strlen(prefix))));
    }
    for (const std::string& url : urls)
        request(p.events->host, p.roots, url);
    for (const QString& file : pageFiles)
        QFile::remove(file);
    return 0;
}
