// Each deliverable's own operator new and delete, straight on malloc and free.
// Without them the library's static C++ runtime brings its throwing operator
// new and with it the exception emergency pool, which it allocates when the
// library loads and never frees when it unloads: about 19 KB lost on every
// load. Nothing in a deliverable throws, so only the nothrow forms exist.
#include <cstdlib>
#include <new>

void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
