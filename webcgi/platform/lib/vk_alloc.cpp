// Allocator of the platform's standard library (see vk_alloc.h). Here it is the C heap; the
// caller's place is not needed because AddressSanitizer reports leaks with full stacks.
#include "vk_alloc.h"

#include <cstdlib>

void *__vk_malloc(size_t size, const char *, int) { return std::malloc(size == 0 ? 1 : size); }

void __vk_free(void *block, const char *, int) { std::free(block); }
