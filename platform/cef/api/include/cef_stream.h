// Readable byte streams.
#pragma once

#include "include/cef_base.h"

#include <cstdio>

class CefStreamReader : public virtual CefBase {
public:
    static CefRefPtr<CefStreamReader> CreateForFile(const CefString& fileName);
    // The reader keeps its own copy of the data.
    static CefRefPtr<CefStreamReader> CreateForData(void* data, size_t size);

    virtual size_t Read(void* ptr, size_t size, size_t n) = 0;
    // whence: SEEK_SET, SEEK_CUR, SEEK_END; 0 on success.
    virtual int Seek(int64 offset, int whence) = 0;
    virtual int64 Tell() = 0;
    virtual int Eof() = 0;
    virtual bool MayBlock() = 0;
};
