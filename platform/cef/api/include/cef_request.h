// A resource or navigation request. The URL is in its percent-encoded form.
#pragma once

#include "include/cef_base.h"

#include <map>
#include <vector>

class CefPostDataElement : public virtual CefBase {
public:
    typedef cef_postdataelement_type_t Type;

    static CefRefPtr<CefPostDataElement> Create();

    virtual bool IsReadOnly() = 0;
    virtual void SetToEmpty() = 0;
    virtual void SetToFile(const CefString& fileName) = 0;
    virtual void SetToBytes(size_t size, const void* bytes) = 0;
    virtual Type GetType() = 0;
    virtual CefString GetFile() = 0;
    virtual size_t GetBytesCount() = 0;
    virtual size_t GetBytes(size_t size, void* bytes) = 0;
};

class CefPostData : public virtual CefBase {
public:
    typedef std::vector<CefRefPtr<CefPostDataElement>> ElementVector;

    static CefRefPtr<CefPostData> Create();

    virtual bool IsReadOnly() = 0;
    virtual size_t GetElementCount() = 0;
    virtual void GetElements(ElementVector& elements) = 0;
    virtual bool RemoveElement(CefRefPtr<CefPostDataElement> element) = 0;
    virtual bool AddElement(CefRefPtr<CefPostDataElement> element) = 0;
    virtual void RemoveElements() = 0;
};

class CefRequest : public virtual CefBase {
public:
    typedef std::multimap<CefString, CefString> HeaderMap;

    static CefRefPtr<CefRequest> Create();

    virtual bool IsReadOnly() = 0;
    virtual CefString GetURL() = 0;
    virtual void SetURL(const CefString& url) = 0;
    virtual CefString GetMethod() = 0;
    virtual void SetMethod(const CefString& method) = 0;
    virtual CefRefPtr<CefPostData> GetPostData() = 0;
    virtual void SetPostData(CefRefPtr<CefPostData> postData) = 0;
    virtual void GetHeaderMap(HeaderMap& headerMap) = 0;
    virtual void SetHeaderMap(const HeaderMap& headerMap) = 0;
    virtual void Set(const CefString& url, const CefString& method, CefRefPtr<CefPostData> postData,
                     const HeaderMap& headerMap) = 0;
    virtual int GetFlags() = 0;
    virtual void SetFlags(int flags) = 0;
    virtual CefString GetFirstPartyForCookies() = 0;
    virtual void SetFirstPartyForCookies(const CefString& url) = 0;
};
