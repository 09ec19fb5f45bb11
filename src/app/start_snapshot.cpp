#include "app/start_snapshot.h"

#include "app/application.h"
#include "app/window.h"
#include "cefclient/qcefwebview.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QSet>
#include <QTimer>

#include <memory>

bool imageHasContent(const QImage& image)
{
    if (image.isNull())
        return false;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    const QRgb first = rgb.pixel(0, 0);
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            if (line[x] != first)
                return true;
    }
    return false;
}

namespace {

// The picture of the main window once its page has loaded; null before.
QImage loadedWindowPicture()
{
    Window* window = appMainWindow();
    if (!window || !window->isVisible() || !window->webView())
        return QImage();
    CefRefPtr<CefBrowser> browser = window->webView()->GetBrowser();
    if (!browser || browser->IsLoading() || !browser->HasDocument())
        return QImage();
    const QString url = QString::fromStdString(browser->GetMainFrame()->GetURL().ToString());
    if (url.isEmpty() || url == QLatin1String("about:blank"))
        return QImage();
    QScreen* screen = window->screen();
    return screen ? screen->grabWindow(window->winId()).toImage() : QImage();
}

} // namespace

void snapshotStartPage(const QString& path, int timeoutMs, const std::function<void(bool)>& done)
{
    auto* timer = new QTimer(QCoreApplication::instance());
    auto elapsed = std::make_shared<QElapsedTimer>();
    auto last = std::make_shared<QImage>();
    elapsed->start();
    QObject::connect(timer, &QTimer::timeout, [=] {
        const QImage picture = loadedWindowPicture();
        const bool settled = imageHasContent(picture) && picture == *last;
        *last = picture;
        if (!settled && elapsed->elapsed() < timeoutMs)
            return;
        timer->stop();
        timer->deleteLater();
        done(settled && picture.save(path, "PNG"));
    });
    timer->start(250);
}
