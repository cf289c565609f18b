#pragma once
// For allocators that hand out pieces of large blocks: the address sanitizer cannot see
// inside such a block by itself, so what is not handed out, and what was given back, is
// marked unusable, and a use after free is still found. Without the sanitizer these cost
// nothing.

#if defined(__SANITIZE_ADDRESS__)
#define WEXEL_HAS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define WEXEL_HAS_ASAN 1
#endif
#endif

#if defined(WEXEL_HAS_ASAN)
#include <sanitizer/asan_interface.h>
#define WEXEL_POISON(at, size) ASAN_POISON_MEMORY_REGION(at, size)
#define WEXEL_UNPOISON(at, size) ASAN_UNPOISON_MEMORY_REGION(at, size)
#else
#define WEXEL_POISON(at, size) ((void)(at), (void)(size))
#define WEXEL_UNPOISON(at, size) ((void)(at), (void)(size))
#endif
