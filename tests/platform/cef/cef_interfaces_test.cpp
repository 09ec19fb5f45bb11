// One object implementing every client interface at once, as the system's client handler does:
// the interfaces share one reference count and their type names do not clash.
#include "all_interfaces_client.h"

#include "include/base/cef_lock.h"
#include "include/cef_app.h"
#include "include/wrapper/cef_message_router.h"

#include <gtest/gtest.h>

namespace {

class AllInOne : public test_support::AllInterfacesClient {
public:
    explicit AllInOne(int* deleted) : deleted_(deleted) {}
    ~AllInOne() override { ++*deleted_; }

    // Type names used unqualified, as a client writes them.
    void OnLoadError(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, ErrorCode code, const CefString&,
                     const CefString&) override
    {
        lastError = code;
    }
    void OnRenderProcessTerminated(CefRefPtr<CefBrowser>, TerminationStatus) override {}
    bool OnDragEnter(CefRefPtr<CefBrowser>, CefRefPtr<CefDragData>, DragOperationsMask mask) override
    {
        return (mask & DRAG_OPERATION_LINK) != 0;
    }
    bool OnContextMenuCommand(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, CefRefPtr<CefContextMenuParams>, int,
                              EventFlags) override
    {
        return false;
    }
    bool OnFileDialog(CefRefPtr<CefBrowser>, FileDialogMode, const CefString&, const CefString&,
                      const std::vector<CefString>&, CefRefPtr<CefFileDialogCallback>) override
    {
        return false;
    }
    bool OnJSDialog(CefRefPtr<CefBrowser>, const CefString&, const CefString&, JSDialogType, const CefString&,
                    const CefString&, CefRefPtr<CefJSDialogCallback>, bool&) override
    {
        return false;
    }
    CefRefPtr<CefResourceHandler> Create(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, const CefString&,
                                         CefRefPtr<CefRequest>) override
    {
        return new AllInOne(deleted_);
    }

    int Guarded()
    {
        AutoLock lock_scope(this);
        AutoLock again(this); // a critical section may be entered again by its owner
        return ++guarded_;
    }

    ErrorCode lastError = ERR_NONE;

private:
    int* deleted_;
    int guarded_ = 0;
    IMPLEMENT_REFCOUNTING(AllInOne);
    IMPLEMENT_LOCKING(AllInOne);
};

TEST(CefInterfacesTest, OneObjectServesEveryInterfaceWithOneCount)
{
    int deleted = 0;
    {
        CefRefPtr<AllInOne> h = new AllInOne(&deleted);
        CefRefPtr<CefClient> client = h.get();
        CefRefPtr<CefLoadHandler> load = h.get();
        CefRefPtr<CefSchemeHandlerFactory> factory = h.get();
        CefRefPtr<CefResourceHandler> perRequest = factory->Create(nullptr, nullptr, "velmora", nullptr);
        EXPECT_FALSE(h->HasOneRef());
        load = nullptr;
        factory = nullptr;
        client = nullptr;
        EXPECT_TRUE(h->HasOneRef());
        EXPECT_EQ(client.get(), nullptr);
        EXPECT_EQ(h->GetLifeSpanHandler().get(), static_cast<CefLifeSpanHandler*>(h.get()));
        EXPECT_TRUE(h->OnDragEnter(nullptr, nullptr, DRAG_OPERATION_LINK));
        EXPECT_FALSE(h->OnDragEnter(nullptr, nullptr, DRAG_OPERATION_COPY));
        EXPECT_EQ(h->Guarded(), 1);
        // Defaults of the slots the object does not override.
        EXPECT_FALSE(h->DoClose(nullptr));
        EXPECT_FALSE(h->OnBeforeBrowse(nullptr, nullptr, nullptr, false));
        EXPECT_FALSE(h->OnPreKeyEvent(nullptr, CefKeyEvent(), nullptr, nullptr));
        EXPECT_FALSE(h->OnRequestGeolocationPermission(nullptr, "", 0, nullptr));
        EXPECT_EQ(h->GetFocusHandler().get(), nullptr);
        bool allow = false;
        h->OnProtocolExecution(nullptr, "spotify:x", allow);
        EXPECT_FALSE(allow);
        perRequest = nullptr;
        EXPECT_EQ(deleted, 1);
    }
    EXPECT_EQ(deleted, 2);
}

} // namespace
