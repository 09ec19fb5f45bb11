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
    return LzmaUncompressInSteps(dest, destLen, src, srcLen, props, propsSize, 0, NULL, NULL);
}

int LzmaUncompressInSteps(unsigned char* dest, size_t* destLen, const unsigned char* src, size_t* srcLen,
    const unsigned char* props, size_t propsSize, size_t step, LzmaProgress progress, void* context)
{
    ISzAlloc alloc = {lzmaAlloc, lzmaFree};
    const SizeT outSize = *destLen;
    const SizeT inSize = *srcLen;
    SizeT inPos = 0;
    *destLen = 0;
    *srcLen = 0;
    /* The range decoder starts with 5 bytes of its own. */
    if (inSize < 5)
        return SZ_ERROR_INPUT_EOF;
    CLzmaDec state;
    LzmaDec_Construct(&state);
    SRes res = LzmaDec_AllocateProbs(&state, props, (unsigned)propsSize, &alloc);
    if (res != SZ_OK)
        return res;
    /* The output buffer is the decoder's dictionary: no copy out of it. */
    state.dic = dest;
    state.dicBufSize = outSize;
    LzmaDec_Init(&state);
    ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
    do {
        const SizeT limit = step && outSize - state.dicPos > step ? state.dicPos + step : outSize;
        SizeT inLen = inSize - inPos;
        res = LzmaDec_DecodeToDic(&state, limit, src + inPos, &inLen, LZMA_FINISH_ANY, &status);
        inPos += inLen;
        if (res == SZ_OK && status == LZMA_STATUS_NEEDS_MORE_INPUT)
            res = SZ_ERROR_INPUT_EOF;
        if (res != SZ_OK)
            break;
        if (progress)
            progress(context, state.dicPos);
    } while (status != LZMA_STATUS_FINISHED_WITH_MARK && state.dicPos < outSize);
    *destLen = state.dicPos;
    *srcLen = inPos;
    LzmaDec_FreeProbs(&state, &alloc);
    return res;
}
