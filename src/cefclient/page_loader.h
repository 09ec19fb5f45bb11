// Reading the pages from disk: where a URL's file lies, its MIME type, and pages with their images
// inlined as data URIs.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <string>

// The file's text (UTF-8) with the images it names inlined: a style sheet's url(../image/...)
// references, and the src="image/..." attributes of any other page file. Empty when the file cannot
// be opened.
std::string LoadPageWithInlinedImages(const QString& filePath);
// The first capture of every match of pattern (QRegExp syntax) in text, in order.
QStringList RegexCaptures(const QString& text, const QString& pattern);
// A data URI with the bytes of the image at relativePath below the image root. Empty when the image
// is not a PNG, JPEG or GIF file that can be read, or lies outside the page root.
QString ImageToDataUri(const QString& relativePath);

namespace page_loader {

// The file that urlPart (a piece of a URL, percent-encoded, maybe with a query or fragment) names
// below root; empty when it names none or leads outside root.
QString FileBelow(const QString& root, const QString& urlPart);
// The MIME type of a file by its extension ("application/octet-stream" when unknown).
QString MimeTypeOf(const QString& filePath);
// Whether the file is a page whose images are inlined (HTML, script or style sheet); other files are
// served as they are.
bool IsInlinedPage(const QString& filePath);
// The body of a response for the file: the page with its images inlined, or the file's bytes. false
// when the file cannot be read.
bool ReadResource(const QString& filePath, std::string* body);

} // namespace page_loader
