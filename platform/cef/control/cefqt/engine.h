// Process-wide QtWebEngine state of the runtime layer: pre-application set-up, the
// one profile (made lazily at the first browser) and custom-scheme serving.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QWebEngineProfile;
class QWebEngineDownloadItem;

namespace cefqt {

struct ProfileSettings {
    QString userAgent;     // empty: the engine's default
    QString locale;        // e.g. "en"; becomes the Accept-Language and --lang
    QString cachePath;     // empty: nothing kept on disk (an off-the-record profile)
    bool persistentCookies = true;
};

// Must run before QApplication exists: sandbox and GPU environment, attributes.
void PrepareProcess(bool noSandbox);

// Registers `scheme` as a standard (host syntax), local, CORS-enabled scheme. Only
// effective before QApplication exists; later calls are logged and ignored.
// Returns false for a scheme the engine owns (http, https, file, ...).
bool RegisterStandardScheme(const QByteArray& scheme);
bool IsRegisteredScheme(const QByteArray& scheme);

void SetProfileSettings(const ProfileSettings& settings);

// The profile, created on the first call (GUI thread only, QApplication must exist).
QWebEngineProfile* Profile();
bool HasProfile();

// Deletes the profile. Every page must be gone already.
void ReleaseProfile();

// The profile folder for a cache path as the runtime's settings give it: Windows
// separators become "/", and the path is cleaned; empty stays empty.
QString CachePathFromSettings(QString path);

// ---- custom-scheme serving -------------------------------------------------

struct ResourceRequest {
    QUrl url;
    QByteArray method;
    QList<QPair<QByteArray, QByteArray>> headers;
};

struct ResourceReply {
    enum Kind { Data, Redirect, NotFound, Failed, Aborted };
    Kind kind = Failed;
    QByteArray mimeType;
    QByteArray body;
    QUrl redirect;
};

// Answer callback of a served request: callable once, from any thread.
using ReplyFn = std::function<void(ResourceReply)>;

// A server for one scheme. `serve` runs on the GUI thread and must not block; it
// answers later through `reply`. The returned cancel function (may be empty) is
// called on the GUI thread when the engine drops the request before the answer.
using CancelFn = std::function<void()>;
using ServeFn = std::function<CancelFn(const ResourceRequest&, ReplyFn reply)>;

// Sets the server for a registered scheme; installed on the profile when it exists.
void SetSchemeServer(const QByteArray& scheme, ServeFn serve);

// Called for every download the profile starts (GUI thread).
void SetDownloadObserver(std::function<void(QWebEngineDownloadItem*)> observer);

// Work from other threads for the GUI thread. The application is remembered on the GUI
// thread (NoteGuiApplication, at the first page); its teardown starts with the post routines,
// and from then on posts are dropped; a post in progress finishes before the application
// object can go.
void NoteGuiApplication();
void PostToGui(std::function<void()> fn);

} // namespace cefqt
