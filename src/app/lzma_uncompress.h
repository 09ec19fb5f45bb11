// One-call LZMA decoding of a raw stream whose 5 property bytes are kept apart.
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Result codes (those of the LZMA SDK).
enum {
    LZMA_RESULT_OK = 0,          // SZ_OK
    LZMA_RESULT_DATA = 1,        // SZ_ERROR_DATA: damaged stream
    LZMA_RESULT_MEM = 2,         // SZ_ERROR_MEM
    LZMA_RESULT_UNSUPPORTED = 4, // SZ_ERROR_UNSUPPORTED: properties the decoder does not take
    LZMA_RESULT_INPUT_EOF = 6,   // SZ_ERROR_INPUT_EOF: the input ended before the output was complete
};

// Decodes src into dest. On entry *destLen is the output limit and *srcLen the input length; on return
// they hold the bytes written and read. The output limit being reached is success (even with input
// left over); an end mark before it is success too, with *destLen below the limit.
int LzmaUncompress(unsigned char* dest, size_t* destLen, const unsigned char* src, size_t* srcLen,
    const unsigned char* props, size_t propsSize);

// Called with the number of bytes decoded so far.
typedef void (*LzmaProgress)(void* context, size_t decoded);

// LzmaUncompress in steps of at most step output bytes (0: one step), calling progress (if not null)
// after each step that succeeded. The bytes below the count it is given are final.
int LzmaUncompressInSteps(unsigned char* dest, size_t* destLen, const unsigned char* src, size_t* srcLen,
    const unsigned char* props, size_t propsSize, size_t step, LzmaProgress progress, void* context);

#ifdef __cplusplus
}
#endif
