#include "cefclient/page_loader.h"

#include "app/application.h"
#include "app/path_containment.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeDatabase>
#include <QRegExp>
#include <QTextStream>
#include <QUrl>

namespace {

const char kStyleSheetPattern[] = "url(([^)]*))";
const char kImageAttributePattern[] = "src=\"(image/[^\"]*)\"";
const char kAttributePrefix[] = "src=\"";

QString extensionOf(const QString& filePath) { return QFileInfo(filePath).suffix().toLower(); }

// The real path of the regular file at path when it lies below root, also once links are followed;
// empty otherwise.
QString regularFileInside(const QString& path, const QString& root)
{
    if (root.isEmpty())
        return QString();
    const QString absoluteRoot = QDir::cleanPath(QDir(root).absolutePath());
    const QString cleaned = QDir::cleanPath(QDir(absoluteRoot).absoluteFilePath(path));
    if (!path_containment::insideByText(cleaned, absoluteRoot) || !QFileInfo(cleaned).isFile())
        return QString();
    return path_containment::realPathInside(cleaned, absoluteRoot, path_containment::Itself::Outside);
}

} // namespace

std::string LoadPageWithInlinedImages(const QString& filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return std::string();
    QTextStream in(&file);
    in.setCodec("UTF-8");
    QString text = in.readAll();
    file.close();

    const bool styleSheet = filePath.contains(QLatin1String(".css"));
    const QStringList captures =
        RegexCaptures(text, QLatin1String(styleSheet ? kStyleSheetPattern : kImageAttributePattern));
    for (const QString& capture : captures) {
        QString rel = capture;
        if (styleSheet)
            rel.remove(QLatin1String("(../"));
        const QString uri = ImageToDataUri(rel);
        if (uri.isEmpty())
            continue; // the browser loads the image by its reference
        if (styleSheet)
            text.replace(QLatin1String("url(../") + rel + QLatin1Char(')'), QLatin1String("url(") + uri + QLatin1Char(')'));
        else
            text.replace(QLatin1String(kAttributePrefix) + rel + QLatin1Char('"'),
                         QLatin1String(kAttributePrefix) + uri + QLatin1Char('"'));
    }
    return text.toUtf8().toStdString();
}

QStringList RegexCaptures(const QString& text, const QString& pattern)
{
    QStringList captures;
    QRegExp re(pattern);
    int position = 0;
    while ((position = re.indexIn(text, position)) != -1) {
        // Both patterns in use match at least one character; an empty match still moves on.
        position += qMax(1, re.matchedLength());
        captures.append(re.cap(1));
    }
    return captures;
}

QString ImageToDataUri(const QString& relativePath)
{
    Application* app = appInstance();
    if (!app)
        return QString();
    const QString extension = extensionOf(relativePath);
    if (extension != QLatin1String("png") && extension != QLatin1String("jpg") && extension != QLatin1String("jpeg") &&
        extension != QLatin1String("gif"))
        return QString();
    const QString real = regularFileInside(app->imageRoot() + QLatin1Char('/') + relativePath, app->pageRoot());
    if (real.isEmpty())
        return QString();
    QFile file(real);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QByteArray bytes = file.readAll();
    // The file's own bytes under the type its content has: no re-encoding, animations kept.
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    QByteArray format = reader.canRead() ? reader.format() : QByteArray();
    if (format == "jpg")
        format = "jpeg";
    if (format != "png" && format != "jpeg" && format != "gif")
        return QString();
    return QLatin1String("data:image/") + QString::fromLatin1(format) + QLatin1String(";base64,") +
        QString::fromLatin1(bytes.toBase64());
}

namespace page_loader {

QString FileBelow(const QString& root, const QString& urlPart)
{
    QString part = urlPart;
    const int end = part.indexOf(QRegExp(QStringLiteral("[?#]")));
    if (end >= 0)
        part.truncate(end);
    return regularFileInside(root + QLatin1Char('/') + QUrl::fromPercentEncoding(part.toUtf8()), root);
}

QString MimeTypeOf(const QString& filePath)
{
    const QString extension = extensionOf(filePath);
    static const struct {
        const char* extension;
        const char* mime;
    } pageTypes[] = {
        {"html", "text/html"}, {"htm", "text/html"},         {"js", "application/javascript"},
        {"css", "text/css"},   {"json", "application/json"}, {"svg", "image/svg+xml"},
    };
    for (const auto& t : pageTypes)
        if (extension == QLatin1String(t.extension))
            return QLatin1String(t.mime);
    // The system's type database reads past the end of its cache for a name with a NUL character;
    // no file has such a name.
    if (filePath.contains(QChar(0)))
        return QStringLiteral("application/octet-stream");
    const QMimeType type = QMimeDatabase().mimeTypeForFile(filePath, QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault())
        return QStringLiteral("application/octet-stream");
    return type.name();
}

bool IsInlinedPage(const QString& filePath)
{
    const QString extension = extensionOf(filePath);
    return extension == QLatin1String("html") || extension == QLatin1String("htm") || extension == QLatin1String("js") ||
        extension == QLatin1String("css");
}

bool ReadResource(const QString& filePath, std::string* body)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (IsInlinedPage(filePath)) {
        file.close();
        *body = LoadPageWithInlinedImages(filePath);
        return true;
    }
    const QByteArray bytes = file.readAll();
    body->assign(bytes.constData(), size_t(bytes.size()));
    return true;
}

} // namespace page_loader
