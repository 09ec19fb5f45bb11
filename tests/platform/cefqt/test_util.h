// Helpers of the engine tests: a bounded wait that keeps the event loop running and a
// small site served from the "velmora" scheme.
#pragma once

#include "qt/engine.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QTimer>

#include <functional>

namespace cefqt_test {

inline bool waitFor(const std::function<bool()>& done, int ms = 20000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Pages by URL path; served as text/html, anything else is not found.
inline QHash<QString, QByteArray>& site()
{
    static QHash<QString, QByteArray> pages;
    return pages;
}

inline void serveSite()
{
    cefqt::SetSchemeServer("velmora", [](const cefqt::ResourceRequest& request, cefqt::ReplyFn reply) -> cefqt::CancelFn {
        cefqt::ResourceReply r;
        const QString path = request.url.path();
        if (site().contains(path)) {
            r.kind = cefqt::ResourceReply::Data;
            r.mimeType = "text/html";
            r.body = site().value(path);
        } else {
            r.kind = cefqt::ResourceReply::NotFound;
        }
        reply(r);
        return {};
    });
}

} // namespace cefqt_test
