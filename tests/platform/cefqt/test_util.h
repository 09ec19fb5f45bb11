// Helpers of the engine tests: those of engine_test_support.h and a small site served from
// the "velmora" scheme.
#pragma once

#include "engine_test_support.h"
#include "cefqt/engine.h"

#include <QHash>

namespace cefqt_test {

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
