// A page query's reply callback for tests: records its answers and counts its references.
#pragma once

#include "include/wrapper/cef_message_router.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <mutex>
#include <vector>

namespace test_support {

class RecordingCallback : public CefMessageRouterBrowserSide::Callback {
public:
    struct Answer {
        bool success;
        int code;
        QString text;
        QThread* thread = nullptr; // the thread that answered
    };

    void Success(const CefString& response) override { add({true, 0, toQString(response)}); }
    void Failure(int error_code, const CefString& error_message) override
    {
        add({false, error_code, toQString(error_message)});
    }

    std::vector<Answer> answers() const
    {
        std::lock_guard<std::mutex> l(m_lock);
        return m_answers;
    }
    int refs() const { return m_refs.load(); }

    void AddRef() const override { m_refs.fetch_add(1); }
    bool Release() const override
    {
        if (m_refs.fetch_sub(1) == 1) {
            delete this;
            return true;
        }
        return false;
    }
    bool HasOneRef() const override { return m_refs.load() == 1; }

private:
    static QString toQString(const CefString& s) { return QString::fromUtf16(s.c_str(), int(s.length())); }
    void add(Answer a)
    {
        a.thread = QThread::currentThread();
        std::lock_guard<std::mutex> l(m_lock);
        m_answers.push_back(a);
    }

    mutable std::atomic<int> m_refs{0};
    mutable std::mutex m_lock;
    std::vector<Answer> m_answers;
};

} // namespace test_support
