// The runtime's plain string structure: UTF-16 text with its length and the function that
// frees it (null when the structure does not own the text).
#pragma once

#include <cstddef>

typedef char16_t char16;

typedef struct _cef_string_utf16_t {
    char16* str;
    size_t length;
    void (*dtor)(char16* str);
} cef_string_utf16_t;

typedef cef_string_utf16_t cef_string_t;

// Sets output to src_len characters of src: a copy of its own when copy is non-zero, else a
// reference to src. Frees what output held. Answers 1 on success.
int cef_string_utf16_set(const char16* src, size_t src_len, cef_string_utf16_t* output, int copy);
// Frees what str holds and leaves it empty.
void cef_string_utf16_clear(cef_string_utf16_t* str);
