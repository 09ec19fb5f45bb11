// The page commands: the query text of a page, its geometry words and the dispatcher's table.
#include "app/window.h"

#include "app/application.h"
#include "app/window_services.h"
#include "cefclient/client_handler.h"
#include "cefclient/popwidget.h"
#include "cefclient/qcefwebview.h"
#include "devices/device_filter.h"
#include "update/file_download.h"

#include "include/base/cef_logging.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include <initializer_list>

namespace {

// A text argument: a JSON number reads as its decimal text, an absent key as "".
QString arg(const QVariantMap& args, const char* key) { return args.value(QLatin1String(key)).toString(); }

// A failure's fixed text, which the pages and other callers rely on, then its reason when one is
// known: "RestDevice failed: no device M1.0 is attached".
QString failure(const char* text, const QString& why)
{
    const QString fixed = QString::fromLatin1(text);
    return why.isEmpty() ? fixed : fixed + QStringLiteral(": ") + why;
}

// Only these schemes leave the program for the desktop or the network.
bool schemeIn(const QUrl& url, std::initializer_list<const char*> schemes)
{
    const QString scheme = url.scheme().toLower();
    for (const char* s : schemes)
        if (scheme == QLatin1String(s))
            return true;
    return false;
}

} // namespace

struct PageCommands {
    using Callback = Window::Callback;
    using Run = void (*)(Window& w, const QVariantMap& args, const Callback& cb);

    struct Command {
        const char* name;
        // Keys that must be present: without one the command does nothing and gives no answer.
        const char* required[3];
        Run run;
    };

    static const Command* find(const QString& name);
};

const PageCommands::Command* PageCommands::find(const QString& name)
{
    static const Command table[] = {
        {"WriteRGBDevice", {}, [](Window& w, const QVariantMap& args, const Callback& cb) {
             const QString data = arg(args, "Data");
             // Data is a bracketed list of quoted items: ["Esc#FF0000","F1#00FF00"].
             QString items = data.size() >= 4 ? data.mid(2, data.size() - 4) : QString();
             items.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
             QString why;
             if (w.m_devices->writeRgbDevice(arg(args, "Version"), arg(args, "DriverVersion"),
                                             items.split(QStringLiteral("\",\"")), &why))
                 Window::replySuccess(cb, items);
             else
                 Window::replyFailure(cb, 0, failure("WriteRGBDevice failed", why));
         }},
        {"LoginMain", {}, [](Window& w, const QVariantMap& args, const Callback&) {
             const QString url = arg(args, "Url"), width = arg(args, "width"), height = arg(args, "height");
             if (url.isEmpty() || width.isEmpty() || height.isEmpty())
                 return;
             const QSize size = boundedWindowSize(QSize(width.toInt(), height.toInt()));
             w.hide();
             w.m_webView->resize(size);
             w.m_webView->load(QUrl(url, QUrl::TolerantMode));
             if (g_handler) {
                 g_handler->SetViewKey(url);
                 g_handler->SetStartupURL(url.toUtf8().toStdString());
             }
             w.setMinimumSize(size);
             w.move((GetSystemMetrics(SM_CXSCREEN) - size.width()) / 2,
                    (GetSystemMetrics(SM_CYSCREEN) - size.height()) / 2);
             w.resize(size);
             // One timer for every login: the window shows once, a second after the last one.
             if (!w.m_loginTimer) {
                 w.m_loginTimer = new QTimer(&w);
                 w.m_loginTimer->setSingleShot(true);
                 w.m_loginTimer->setInterval(1000);
                 QObject::connect(w.m_loginTimer, &QTimer::timeout, &w, &Window::LoginWindow);
             }
             w.m_loginTimer->start();
         }},
        {"GetDevicesList", {}, [](Window& w, const QVariantMap&, const Callback& cb) {
             const QStringList versions = w.deviceMap().keys();
             if (versions.isEmpty())
                 return;
             Window::replySuccess(
                 cb, QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(versions)).toJson(QJsonDocument::Compact)));
         }},
        {"RestDevice", {}, [](Window& w, const QVariantMap& args, const Callback& cb) {
             QString why;
             if (w.m_devices->resetDevice(arg(args, "Version"), &why))
                 Window::replySuccess(cb, QStringLiteral("RestDevice success"));
             else
                 Window::replyFailure(cb, 0, failure("RestDevice failed", why));
         }},
        {"ReadDevicesDpiVal", {}, [](Window& w, const QVariantMap& args, const Callback& cb) {
             Window::replySuccess(
                 cb, QString::fromUtf8(w.m_devices->readDpiValue(arg(args, "Version"), arg(args, "DpiIndex"))));
         }},
        {"WriteDevice", {}, [](Window& w, const QVariantMap& args, const Callback& cb) {
             QString why;
             if (w.m_devices->writeDeviceTask(arg(args, "Version"), arg(args, "DriverVersion"), arg(args, "Index"),
                                              arg(args, "Task"), arg(args, "TaskType"), arg(args, "TaskCount"), &why))
                 Window::replySuccess(cb, QStringLiteral("writeDevices success!"));
             else
                 Window::replyFailure(cb, 0, failure("writeDevices failed!", why));
         }},
        {"loadurl", {"url"}, [](Window& w, const QVariantMap& args, const Callback&) {
             const QString url = arg(args, "url");
             // The page must stay below the program folder.
             if (pageInAppDir(url))
                 w.loadUrl(url);
         }},
        {"ReadFileToStr", {"FilePath"}, [](Window& w, const QVariantMap& args, const Callback& cb) {
             const QString path = pathInAppDir(arg(args, "FilePath"));
             QString text;
             if (!path.isEmpty() && w.m_fileCache.query(path, arg(args, "Xpath"), &text) == PageFileCache::Result::Ok)
                 Window::replySuccess(cb, text);
             else
                 Window::replyFailure(cb, 0, QStringLiteral("queryProfile load xml file failed!"));
         }},
        {"ModifyFileFromStr", {}, [](Window& w, const QVariantMap& args, const Callback& cb) {
             const QString path = pathInAppDir(arg(args, "FilePath"));
             QString why = QStringLiteral("the path names no file below the program folder");
             if (!path.isEmpty() && w.m_fileCache.modify(path, arg(args, "ContentStr"), &why) == PageFileCache::Result::Ok)
                 Window::replySuccess(cb, QStringLiteral("ModifyFileFromStr success"));
             else
                 Window::replyFailure(cb, 0, failure("ModifyFileFromStr failed", why));
         }},
        {"mouseTracks", {"status"}, [](Window& w, const QVariantMap& args, const Callback& cb) {
             const QString status = arg(args, "status");
             if (status == QStringLiteral("开始")) {
                 QString why;
                 if (w.m_devices->startMouseTracks(&why))
                     Window::replySuccess(cb, QStringLiteral("mouseTracks success"));
                 else
                     Window::replyFailure(cb, 0, failure("mouseTracks failed", why));
             } else if (status == QStringLiteral("停止")) {
                 Window::replySuccess(cb, w.m_devices->stopMouseTracks());
             }
         }},
        {"goback", {}, [](Window& w, const QVariantMap&, const Callback& cb) {
             w.m_webView->back();
             Window::replySuccess(cb, QStringLiteral("goback"));
         }},
        {"goforward", {}, [](Window& w, const QVariantMap&, const Callback& cb) {
             w.m_webView->forward();
             Window::replySuccess(cb, QStringLiteral("goforward"));
         }},
        {"savexml", {}, [](Window& w, const QVariantMap&, const Callback& cb) {
             QString why;
             switch (w.m_fileCache.flush(&why)) {
             case PageFileCache::Flush::NothingCached:
                 break;
             case PageFileCache::Flush::Written:
                 Window::replySuccess(cb, QStringLiteral("save xml success"));
                 break;
             case PageFileCache::Flush::Failed:
                 Window::replyFailure(cb, 0, failure("save xml failed", why));
                 break;
             }
         }},
        {"modifyMouseAcce", {"Num"}, [](Window& w, const QVariantMap& args, const Callback& cb) {
             QString why;
             if (w.m_devices->setMouseAcceleration(args.value(QStringLiteral("Num")).toInt(), &why))
                 Window::replySuccess(cb, QStringLiteral("modifyMouseAccel success"));
             else
                 Window::replyFailure(cb, 0, failure("modifyMouseAccel failed", why));
         }},
        {"ModifyWindowAcceleratedSpeed", {"Num"}, [](Window& w, const QVariantMap& args, const Callback& cb) {
             QString why;
             if (w.m_devices->setMouseSpeed(args.value(QStringLiteral("Num")).toInt(), &why))
                 Window::replySuccess(cb, QStringLiteral("ModifyWindowAcceleratedSpeed success"));
             else
                 Window::replyFailure(cb, 0, failure("ModifyWindowAcceleratedSpeed failed", why));
         }},
        {"modifyMouseAccel", {}, [](Window& w, const QVariantMap&, const Callback&) { w.m_devices->startMouseTracks(nullptr); }},
        {"ModifyMouseScrollLines", {"Num"}, [](Window& w, const QVariantMap& args, const Callback& cb) {
             QString why;
             if (w.m_devices->setWheelScrollLines(args.value(QStringLiteral("Num")).toInt(), &why))
                 Window::replySuccess(cb, QStringLiteral("ModifyMouseScrollLines success"));
             else
                 Window::replyFailure(cb, 0, failure("ModifyMouseScrollLines failed", why));
         }},
        {"modifyMouseScrollLinesX", {"Num"}, [](Window& w, const QVariantMap& args, const Callback& cb) {
             QString why;
             if (w.m_devices->setWheelScrollChars(args.value(QStringLiteral("Num")).toInt(), &why))
                 Window::replySuccess(cb, QStringLiteral("modifyMouseScrollLinesX success"));
             else
                 Window::replyFailure(cb, 0, failure("modifyMouseScrollLinesX failed", why));
         }},
        {"modifyMouseDoubleClick", {"Num"}, [](Window& w, const QVariantMap& args, const Callback& cb) {
             QString why;
             if (w.m_devices->setDoubleClickTime(args.value(QStringLiteral("Num")).toInt(), &why))
                 Window::replySuccess(cb, QStringLiteral("modifyMouseDoubleClick success"));
             else
                 Window::replyFailure(cb, 0, failure("modifyMouseDoubleClick failed", why));
         }},
        {"GetWindowsMouseConfig", {}, [](Window& w, const QVariantMap& args, const Callback& cb) {
             Window::replySuccess(cb, w.m_devices->windowsMouseConfig(arg(args, "Version")));
         }},
        {"GetWindowsKeyboreadConfig", {}, [](Window& w, const QVariantMap&, const Callback& cb) {
             Window::replySuccess(cb, w.m_devices->windowsKeyboardConfig());
         }},
        {"CloseX", {}, [](Window& w, const QVariantMap&, const Callback& cb) {
             if (Application* app = appInstance()) {
                 app->loadConf();
                 const ConfMap conf = app->confValues();
                 if (conf.contains(QStringLiteral("CloseFunc"))) {
                     if (conf.value(QStringLiteral("CloseFunc")) == QLatin1String("Closeapp"))
                         w.oncloseApp();
                     else
                         w.quitApp();
                 }
             }
             Window::replySuccess(cb, QStringLiteral("modify conf sucess"));
         }},
        {"CloseApp", {}, [](Window& w, const QVariantMap&, const Callback& cb) {
             w.oncloseApp();
             Window::replySuccess(cb, QStringLiteral("modify conf sucess"));
         }},
        {"saveFileDialog", {}, [](Window& w, const QVariantMap&, const Callback& cb) {
             const QString path = w.m_desktop->getSaveFileName(&w, QStringLiteral("保存为"),
                                                                QDir::homePath() + QStringLiteral("/Documents"),
                                                                QStringLiteral("pfd文件(*.pfd)"));
             if (path.isEmpty())
                 Window::replyFailure(cb, 0, QStringLiteral("doesn't select file"));
             else
                 Window::replySuccess(cb, path);
         }},
        {"OpenFileDialog", {}, [](Window& w, const QVariantMap&, const Callback& cb) {
             const QString path = w.m_desktop->getOpenFileName(
                 &w, QStringLiteral("打开"), QDir::homePath() + QStringLiteral("/Documents"), QStringLiteral("*"));
             if (path.isEmpty())
                 Window::replyFailure(cb, 0, QStringLiteral("doesn't select file"));
             else
                 Window::replySuccess(cb, path);
         }},
        {"OpenUrl", {"url"}, [](Window& w, const QVariantMap& args, const Callback& cb) {
             const QUrl url(arg(args, "url"), QUrl::TolerantMode);
             if (!schemeIn(url, {"http", "https", "mailto"})) {
                 Window::replyFailure(cb, 0, QStringLiteral("open failed"));
                 return;
             }
             w.m_desktop->openUrl(url);
             Window::replySuccess(cb, QStringLiteral("open successed"));
         }},
        {"DownloadFile", {"downloadUrl", "relativePath"}, [](Window& w, const QVariantMap& args, const Callback& cb) {
             const QString url = arg(args, "downloadUrl"), relativePath = arg(args, "relativePath");
             const QString name = downloadFileName(url);
             if (name.isEmpty()) {
                 Window::replyFailure(cb, 0, QStringLiteral("url file is not captured"));
                 return;
             }
             const QString local = pathInAppDir(relativePath + name);
             if (!isDownloadUrl(url) || local.isEmpty()) {
                 Window::replyFailure(cb, 0, QStringLiteral("downloadFaild"));
                 return;
             }
             if (QFileInfo::exists(local)) {
                 Window::replySuccess(cb, local);
                 return;
             }
             auto* download = new wrapFileDownload(&w);
             w.m_downloads.append(download);
             download->setCallback(cb);
             download->start(url, relativePath);
         }},
        {"OpenView", {"Url", "width", "height"}, [](Window& w, const QVariantMap& args, const Callback&) {
             const QString url = arg(args, "Url");
             if (g_handler)
                 g_handler->SetViewKey(url);
             w.openPopup(url, QSize(arg(args, "width").toInt(), arg(args, "height").toInt()));
         }},
        {"CloseView", {}, [](Window& w, const QVariantMap&, const Callback&) {
             // The main view takes the queries back before the popup's view goes.
             if (g_handler) {
                 g_handler->SetListener(w.m_webView);
                 g_handler->SetMainWindowHandle(static_cast<HWND>(w.winId()));
             }
             PopWidget* popup = w.m_activePopup;
             for (auto it = w.m_popups.begin(); popup && it != w.m_popups.end(); ++it) {
                 if (it.value() == popup) {
                     w.m_popups.erase(it);
                     break;
                 }
             }
             if (popup) {
                 popup->hide();
                 popup->deleteLater();
             }
             w.m_activePopup = nullptr;
         }},
        {"SendMsgToMainBrowser", {"url", "msg"}, [](Window&, const QVariantMap& args, const Callback& cb) {
             if (g_handler)
                 g_handler->SendBrowserMessage(arg(args, "msg"), arg(args, "url"));
             Window::replySuccess(cb, QStringLiteral("SendMsgToMainBrowser success"));
         }},
        {"openFileDialogEx", {}, [](Window& w, const QVariantMap&, const Callback& cb) {
             const QString path = w.m_desktop->getOpenFileName(&w, QStringLiteral("打开"), QString(), QString());
             if (!path.isEmpty())
                 Window::replySuccess(cb, path);
         }},
        {"SetIME", {}, [](Window&, const QVariantMap&, const Callback& cb) {
             LoadKeyboardLayoutW(u"0x0409", KLF_ACTIVATE | KLF_SETFORPROCESS);
             LOG(INFO) << "SetIME: keyboard layout 0x0409";
             Window::replySuccess(cb, QStringLiteral("SetIME success!"));
         }},
        {"setVDevice", {}, [](Window& w, const QVariantMap& args, const Callback& cb) {
             const QString path = arg(args, "virtualXmlPath");
             if (path.isEmpty())
                 return;
             if (w.m_deviceFilter && !pathInAppDir(path).isEmpty() && w.m_deviceFilter->loadConfig(path, arg(args, "deviceId")))
                 Window::replySuccess(cb, QStringLiteral("setVDevice success!"));
             else
                 Window::replyFailure(cb, 0, QStringLiteral("setVDevice failed!"));
         }},
        {"closeVDevice", {}, [](Window& w, const QVariantMap& args, const Callback& cb) {
             const QString deviceId = arg(args, "deviceId");
             if (deviceId.isEmpty())
                 return;
             if (w.m_deviceFilter && w.m_deviceFilter->removeDeviceConfig(deviceId))
                 Window::replySuccess(cb, QStringLiteral("closeVDevice success!"));
             else
                 Window::replyFailure(cb, 0, QStringLiteral("closeVDevice failed!"));
         }},
        {"playActions", {}, [](Window& w, const QVariantMap& args, const Callback&) {
             const QString actions = arg(args, "actionList");
             if (!actions.isEmpty())
                 w.playActions(actions);
         }},
    };
    for (const Command& c : table)
        if (name == QLatin1String(c.name))
            return &c;
    return nullptr;
}

void Window::dofunc(const QString& funcname, const QVariantMap& args, Callback callbackPtr)
{
    const PageCommands::Command* command = PageCommands::find(funcname);
    if (!command)
        return;
    for (const char* key : command->required)
        if (key && !args.contains(QLatin1String(key)))
            return;
    command->run(*this, args, callbackPtr);
}

void Window::onJsMessage(const QString& name, const Callback callbackPtr)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(name.toUtf8(), &error);
    const QJsonObject object = doc.object();
    const bool isCommand = error.error == QJsonParseError::NoError && doc.isObject()
        && object.contains(QStringLiteral("FuncName"));
    const QVariantMap args = isCommand ? object.toVariantMap() : QVariantMap();
    const QString funcName = args.value(QStringLiteral("FuncName")).toString();
    // The geometry words are requests of their own, or a command's name; a command that only
    // carries them in an argument is no geometry request.
    if (isCommand ? funcName == QLatin1String("maxsizeWindow") : name.contains(QLatin1String("maxsizeWindow"))) {
        maximizeTarget();
        return;
    }
    if (isCommand ? funcName == QLatin1String("restoreWindow") : name.contains(QLatin1String("restoreWindow"))) {
        restoreTarget();
        return;
    }
    if (!isCommand)
        return;
    // Qt's debug stream formats its text before the output is filtered: ask first.
    if (QLoggingCategory::defaultCategory()->isDebugEnabled())
        qDebug().noquote() << "funcname====" + funcName;
    dofunc(funcName, args, callbackPtr);
}

void Window::maximizeTarget()
{
    QWidget* target = g_handler ? QWidget::find(static_cast<WId>(g_handler->GetMainWindowHandle())) : nullptr;
    if (!target)
        return;
    // Another window's entry goes with that window.
    if (target != this && !m_savedGeometry.contains(target))
        connect(target, &QObject::destroyed, this, [this, target] { m_savedGeometry.remove(target); });
    m_savedGeometry.insert(target, target->geometry());
    target->setGeometry(QGuiApplication::primaryScreen()->availableGeometry());
}

void Window::restoreTarget()
{
    QWidget* target = g_handler ? QWidget::find(static_cast<WId>(g_handler->GetMainWindowHandle())) : nullptr;
    // Nothing saved for this window: it stays as it is.
    if (target && m_savedGeometry.contains(target))
        target->setGeometry(m_savedGeometry.value(target));
}
