// Allocator of the platform's standard library: __vk_malloc/__vk_free take the caller's source
// file and line as the recorder's allocator does (it keeps them for its leak report). Buffers that
// a platform call hands over, such as the file contents of vk_get_file_data, are released with
// __vk_free. Use the vk_malloc/vk_free macros, which pass the place of the call.
#pragma once
#include <cstddef>

// A new block of `size` bytes (at least one byte is reserved for size 0), or null when memory is
// short. Not cleared.
void *__vk_malloc(size_t size, const char *file, int line);
// Releases a block of __vk_malloc; null is ignored.
void __vk_free(void *block, const char *file, int line);

#define vk_malloc(SIZE) __vk_malloc((SIZE), __FILE__, __LINE__)
#define vk_free(BLOCK) __vk_free((BLOCK), __FILE__, __LINE__)
