// Plain data objects: requests, responses, streams, the stream resource handler, cookies,
// menu models, drag data.
#include "include/cef_cookie.h"
#include "include/cef_drag_data.h"
#include "include/cef_menu_model.h"
#include "include/cef_request.h"
#include "include/cef_response.h"
#include "include/cef_stream.h"
#include "include/wrapper/cef_stream_resource_handler.h"

#include "cef_internal.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <mutex>

using cef_internal::ObjectCounter;

namespace {

class PostDataElementImpl : public CefPostDataElement {
public:
    bool IsReadOnly() override { return false; }
    void SetToEmpty() override
    {
        type_ = PDE_TYPE_EMPTY;
        bytes_.clear();
        file_.clear();
    }
    void SetToFile(const CefString& fileName) override
    {
        SetToEmpty();
        type_ = PDE_TYPE_FILE;
        file_ = fileName;
    }
    void SetToBytes(size_t size, const void* bytes) override
    {
        SetToEmpty();
        type_ = PDE_TYPE_BYTES;
        if (bytes)
            bytes_.assign(static_cast<const char*>(bytes), static_cast<const char*>(bytes) + size);
    }
    Type GetType() override { return type_; }
    CefString GetFile() override { return file_; }
    size_t GetBytesCount() override { return bytes_.size(); }
    size_t GetBytes(size_t size, void* bytes) override
    {
        const size_t n = std::min(size, bytes_.size());
        if (bytes && n)
            std::memcpy(bytes, bytes_.data(), n);
        return n;
    }

private:
    Type type_ = PDE_TYPE_EMPTY;
    std::vector<char> bytes_;
    CefString file_;
    ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(PostDataElementImpl);
};

class PostDataImpl : public CefPostData {
public:
    bool IsReadOnly() override { return false; }
    size_t GetElementCount() override { return elements_.size(); }
    void GetElements(ElementVector& elements) override { elements = elements_; }
    bool RemoveElement(CefRefPtr<CefPostDataElement> element) override
    {
        auto it = std::find(elements_.begin(), elements_.end(), element);
        if (it == elements_.end())
            return false;
        elements_.erase(it);
        return true;
    }
    bool AddElement(CefRefPtr<CefPostDataElement> element) override
    {
        if (!element)
            return false;
        elements_.push_back(element);
        return true;
    }
    void RemoveElements() override { elements_.clear(); }

private:
    ElementVector elements_;
    ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(PostDataImpl);
};

class RequestImpl : public CefRequest {
public:
    bool IsReadOnly() override { return false; }
    CefString GetURL() override { return readLocked(url_); }
    void SetURL(const CefString& url) override { assignLocked(url_, url); }
    CefString GetMethod() override { return readLocked(method_); }
    void SetMethod(const CefString& method) override { assignLocked(method_, method); }
    CefRefPtr<CefPostData> GetPostData() override { return readLocked(post_); }
    void SetPostData(CefRefPtr<CefPostData> postData) override { assignLocked(post_, postData); }
    void GetHeaderMap(HeaderMap& headerMap) override { assignLocked(headerMap, headers_); }
    void SetHeaderMap(const HeaderMap& headerMap) override { assignLocked(headers_, headerMap); }
    void Set(const CefString& url, const CefString& method, CefRefPtr<CefPostData> postData,
             const HeaderMap& headerMap) override
    {
        std::lock_guard<std::mutex> l(m_);
        url_ = url;
        method_ = method;
        post_ = postData;
        headers_ = headerMap;
    }
    int GetFlags() override { return readLocked(flags_); }
    void SetFlags(int flags) override { assignLocked(flags_, flags); }
    CefString GetFirstPartyForCookies() override { return readLocked(firstParty_); }
    void SetFirstPartyForCookies(const CefString& url) override { assignLocked(firstParty_, url); }

private:
    template <typename T>
    T readLocked(const T& field)
    {
        std::lock_guard<std::mutex> l(m_);
        return field;
    }
    template <typename T>
    void assignLocked(T& to, const T& from)
    {
        std::lock_guard<std::mutex> l(m_);
        to = from;
    }

    std::mutex m_;
    CefString url_;
    CefString method_ = "GET";
    CefRefPtr<CefPostData> post_;
    HeaderMap headers_;
    int flags_ = 0;
    CefString firstParty_;
    ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(RequestImpl);
};

class ResponseImpl : public CefResponse {
public:
    bool IsReadOnly() override { return false; }
    int GetStatus() override { return status_; }
    void SetStatus(int status) override { status_ = status; }
    CefString GetStatusText() override { return statusText_; }
    void SetStatusText(const CefString& statusText) override { statusText_ = statusText; }
    CefString GetMimeType() override { return mime_; }
    void SetMimeType(const CefString& mimeType) override { mime_ = mimeType; }
    CefString GetHeader(const CefString& name) override
    {
        const QString want = cef_extras::ToQString(name);
        for (const auto& h : headers_)
            if (cef_extras::ToQString(h.first).compare(want, Qt::CaseInsensitive) == 0)
                return h.second;
        return CefString();
    }
    void GetHeaderMap(HeaderMap& headerMap) override { headerMap = headers_; }
    void SetHeaderMap(const HeaderMap& headerMap) override { headers_ = headerMap; }

private:
    int status_ = 0;
    CefString statusText_;
    CefString mime_;
    HeaderMap headers_;
    ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(ResponseImpl);
};

class DataStreamReader : public CefStreamReader {
public:
    explicit DataStreamReader(std::vector<char> data) : data_(std::move(data)) {}

    size_t Read(void* ptr, size_t size, size_t n) override
    {
        std::lock_guard<std::mutex> l(m_);
        if (!ptr || size == 0)
            return 0;
        const size_t avail = data_.size() - pos_;
        const size_t items = std::min(n, avail / size);
        std::memcpy(ptr, data_.data() + pos_, items * size);
        pos_ += items * size;
        return items;
    }
    int Seek(int64 offset, int whence) override
    {
        std::lock_guard<std::mutex> l(m_);
        int64 base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? int64(pos_) : int64(data_.size());
        if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END)
            return -1;
        const int64 target = base + offset;
        if (target < 0 || target > int64(data_.size()))
            return -1;
        pos_ = size_t(target);
        return 0;
    }
    int64 Tell() override
    {
        std::lock_guard<std::mutex> l(m_);
        return int64(pos_);
    }
    int Eof() override
    {
        std::lock_guard<std::mutex> l(m_);
        return pos_ >= data_.size() ? 1 : 0;
    }
    bool MayBlock() override { return false; }

private:
    std::mutex m_;
    std::vector<char> data_;
    size_t pos_ = 0;
    ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(DataStreamReader);
};

std::mutex g_cookieMutex;
std::vector<CefString> g_cookieSchemes{CefString("http"), CefString("https")};

// The engine keeps its own cookie store: the manager only records the schemes.
class CookieManagerImpl : public CefCookieManager {
public:
    void SetSupportedSchemes(const std::vector<CefString>& schemes, CefRefPtr<CefCompletionCallback> callback) override
    {
        {
            std::lock_guard<std::mutex> l(g_cookieMutex);
            g_cookieSchemes = schemes;
        }
        if (callback)
            callback->OnComplete();
    }

private:
    IMPLEMENT_REFCOUNTING(CookieManagerImpl);
};

class MenuModelImpl : public CefMenuModel {
public:
    struct Entry {
        int id = -1;
        MenuItemType type = MENUITEMTYPE_NONE;
        CefString label;
        int group = -1;
        bool checked = false;
        bool visible = true;
        bool enabled = true;
        CefRefPtr<MenuModelImpl> submenu;
    };

    bool Clear() override
    {
        items_.clear();
        return true;
    }
    int GetCount() override { return int(items_.size()); }
    bool AddSeparator() override { return add(-1, MENUITEMTYPE_SEPARATOR, CefString(), -1); }
    bool AddItem(int id, const CefString& label) override { return add(id, MENUITEMTYPE_COMMAND, label, -1); }
    bool AddCheckItem(int id, const CefString& label) override { return add(id, MENUITEMTYPE_CHECK, label, -1); }
    bool AddRadioItem(int id, const CefString& label, int group) override
    {
        return add(id, MENUITEMTYPE_RADIO, label, group);
    }
    CefRefPtr<CefMenuModel> AddSubMenu(int id, const CefString& label) override
    {
        if (!add(id, MENUITEMTYPE_SUBMENU, label, -1))
            return nullptr;
        items_.back().submenu = new MenuModelImpl;
        return items_.back().submenu.get();
    }
    bool InsertSeparatorAt(int index) override { return insert(index, -1, MENUITEMTYPE_SEPARATOR, CefString()); }
    bool InsertItemAt(int index, int id, const CefString& label) override
    {
        return insert(index, id, MENUITEMTYPE_COMMAND, label);
    }
    bool Remove(int id) override { return RemoveAt(GetIndexOf(id)); }
    bool RemoveAt(int index) override
    {
        if (!valid(index))
            return false;
        items_.erase(items_.begin() + index);
        return true;
    }
    int GetIndexOf(int id) override
    {
        for (size_t i = 0; i < items_.size(); ++i)
            if (items_[i].type != MENUITEMTYPE_SEPARATOR && items_[i].id == id)
                return int(i);
        return -1;
    }
    int GetCommandIdAt(int index) override { return valid(index) ? items_[index].id : -1; }
    CefString GetLabel(int id) override { return GetLabelAt(GetIndexOf(id)); }
    CefString GetLabelAt(int index) override { return valid(index) ? items_[index].label : CefString(); }
    MenuItemType GetType(int id) override { return GetTypeAt(GetIndexOf(id)); }
    MenuItemType GetTypeAt(int index) override { return valid(index) ? items_[index].type : MENUITEMTYPE_NONE; }
    int GetGroupId(int id) override { return GetGroupIdAt(GetIndexOf(id)); }
    int GetGroupIdAt(int index) override { return valid(index) ? items_[index].group : -1; }
    CefRefPtr<CefMenuModel> GetSubMenu(int id) override { return GetSubMenuAt(GetIndexOf(id)); }
    CefRefPtr<CefMenuModel> GetSubMenuAt(int index) override
    {
        return valid(index) ? items_[index].submenu.get() : nullptr;
    }
    bool IsVisible(int id) override
    {
        const int i = GetIndexOf(id);
        return valid(i) && items_[i].visible;
    }
    bool SetVisible(int id, bool visible) override
    {
        const int i = GetIndexOf(id);
        if (!valid(i))
            return false;
        items_[i].visible = visible;
        return true;
    }
    bool IsEnabled(int id) override
    {
        const int i = GetIndexOf(id);
        return valid(i) && items_[i].enabled;
    }
    bool SetEnabled(int id, bool enabled) override
    {
        const int i = GetIndexOf(id);
        if (!valid(i))
            return false;
        items_[i].enabled = enabled;
        return true;
    }
    bool IsChecked(int id) override { return IsCheckedAt(GetIndexOf(id)); }
    bool SetChecked(int id, bool checked) override { return SetCheckedAt(GetIndexOf(id), checked); }
    bool IsCheckedAt(int index) override { return valid(index) && items_[index].checked; }
    bool SetCheckedAt(int index, bool checked) override
    {
        if (!valid(index))
            return false;
        Entry& e = items_[index];
        if (e.type != MENUITEMTYPE_CHECK && e.type != MENUITEMTYPE_RADIO)
            return false;
        if (e.type == MENUITEMTYPE_RADIO && checked)
            for (auto& other : items_)
                if (other.type == MENUITEMTYPE_RADIO && other.group == e.group)
                    other.checked = false;
        e.checked = checked;
        return true;
    }

private:
    bool valid(int index) const { return index >= 0 && size_t(index) < items_.size(); }
    bool add(int id, MenuItemType type, const CefString& label, int group)
    {
        Entry e;
        e.id = id;
        e.type = type;
        e.label = label;
        e.group = group;
        items_.push_back(e);
        return true;
    }
    bool insert(int index, int id, MenuItemType type, const CefString& label)
    {
        if (index < 0 || size_t(index) > items_.size())
            return false;
        Entry e;
        e.id = id;
        e.type = type;
        e.label = label;
        items_.insert(items_.begin() + index, e);
        return true;
    }

    std::vector<Entry> items_;
    ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(MenuModelImpl);
};

class DragDataImpl : public CefDragData {
public:
    bool IsLink() override { return !link_.empty(); }
    bool IsFragment() override { return !text_.empty(); }
    bool IsFile() override { return !files_.empty(); }
    CefString GetLinkURL() override { return link_; }
    CefString GetLinkTitle() override { return CefString(); }
    CefString GetFragmentText() override { return text_; }
    CefString GetFragmentHtml() override { return CefString(); }
    CefString GetFileName() override { return files_.empty() ? CefString() : files_.front(); }
    bool GetFileNames(std::vector<CefString>& names) override
    {
        names = files_;
        return !files_.empty();
    }
    void SetLinkURL(const CefString& url) override { link_ = url; }
    void SetFragmentText(const CefString& text) override { text_ = text; }
    void AddFile(const CefString& path, const CefString&) override { files_.push_back(path); }

private:
    CefString link_;
    CefString text_;
    std::vector<CefString> files_;
    ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(DragDataImpl);
};

} // namespace

CefRefPtr<CefPostDataElement> CefPostDataElement::Create() { return new PostDataElementImpl; }
CefRefPtr<CefPostData> CefPostData::Create() { return new PostDataImpl; }
CefRefPtr<CefRequest> CefRequest::Create() { return new RequestImpl; }
CefRefPtr<CefResponse> CefResponse::Create() { return new ResponseImpl; }
CefRefPtr<CefDragData> CefDragData::Create() { return new DragDataImpl; }

CefRefPtr<CefStreamReader> CefStreamReader::CreateForData(void* data, size_t size)
{
    std::vector<char> copy;
    if (data && size)
        copy.assign(static_cast<const char*>(data), static_cast<const char*>(data) + size);
    return new DataStreamReader(std::move(copy));
}

CefRefPtr<CefStreamReader> CefStreamReader::CreateForFile(const CefString& fileName)
{
    QFile f(cef_extras::ToQString(fileName));
    if (!f.open(QIODevice::ReadOnly))
        return nullptr;
    const QByteArray bytes = f.readAll();
    return new DataStreamReader(std::vector<char>(bytes.begin(), bytes.end()));
}

CefRefPtr<CefCookieManager> CefCookieManager::GetGlobalManager()
{
    static CefRefPtr<CefCookieManager> manager = new CookieManagerImpl;
    return manager;
}

std::vector<CefString> cef_internal::SupportedCookieSchemes()
{
    std::lock_guard<std::mutex> l(g_cookieMutex);
    return g_cookieSchemes;
}

CefRefPtr<CefMenuModel> cef_backend::CreateMenuModel() { return new MenuModelImpl; }

// ---- CefStreamResourceHandler

CefStreamResourceHandler::CefStreamResourceHandler(const CefString& mime_type, CefRefPtr<CefStreamReader> stream)
    : status_code_(200), status_text_("OK"), mime_type_(mime_type), stream_(stream)
{
}

CefStreamResourceHandler::CefStreamResourceHandler(int status_code, const CefString& status_text,
                                                   const CefString& mime_type, CefResponse::HeaderMap header_map,
                                                   CefRefPtr<CefStreamReader> stream)
    : status_code_(status_code), status_text_(status_text), mime_type_(mime_type),
      header_map_(std::move(header_map)), stream_(stream)
{
}

bool CefStreamResourceHandler::ProcessRequest(CefRefPtr<CefRequest>, CefRefPtr<CefCallback> callback)
{
    callback->Continue();
    return true;
}

void CefStreamResourceHandler::GetResponseHeaders(CefRefPtr<CefResponse> response, int64& response_length,
                                                  CefString&)
{
    response->SetStatus(status_code_);
    response->SetStatusText(status_text_);
    response->SetMimeType(mime_type_);
    if (!header_map_.empty())
        response->SetHeaderMap(header_map_);
    response_length = -1;
    if (stream_) {
        // Length of what is left in the stream.
        const int64 pos = stream_->Tell();
        if (stream_->Seek(0, SEEK_END) == 0) {
            response_length = stream_->Tell() - pos;
            stream_->Seek(pos, SEEK_SET);
        }
    } else {
        response_length = 0;
    }
}

bool CefStreamResourceHandler::ReadResponse(void* data_out, int bytes_to_read, int& bytes_read,
                                            CefRefPtr<CefCallback>)
{
    bytes_read = 0;
    if (!stream_ || bytes_to_read <= 0)
        return false;
    bytes_read = int(stream_->Read(data_out, 1, size_t(bytes_to_read)));
    return bytes_read > 0;
}

void CefStreamResourceHandler::Cancel() {}
