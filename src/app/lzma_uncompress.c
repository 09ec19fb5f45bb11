#include "app/lzma_uncompress.h"

#include <stdlib.h>

#include <lzma/LzmaDec.h>

static void* lzmaAlloc(void* p, size_t size)
{
    (void)p;
    return size ? malloc(size) : NULL;
}

static void lzmaFree(void* p, void* address)
{
    (void)p;
    free(address);
}

int LzmaUncompress(unsigned char* dest, size_t* destLen, const unsigned char* src, size_t* srcLen,
    const unsigned char* props, size_t propsSize)
{
    ISzAlloc alloc = {lzmaAlloc, lzmaFree};
    ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
    SizeT outLen = *destLen;
    SizeT inLen = *srcLen;
    SRes res = LzmaDecode(dest, &outLen, src, &inLen, props, (unsigned)propsSize, LZMA_FINISH_ANY, &status, &alloc);
    *destLen = outLen;
    *srcLen = inLen;
    if (res == SZ_OK && status == LZMA_STATUS_NEEDS_MORE_INPUT)
        res = SZ_ERROR_INPUT_EOF;
    return res;
}
