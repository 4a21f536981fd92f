// Linked into the test executables whose areas start no thread: those are
// left out of the ThreadSanitizer run, which has nothing to check where only
// one thread runs. Any thread started here fails the case that started it,
// so an area that comes to use threads is moved to the executables that run
// under ThreadSanitizer instead of going unchecked. The thread itself still
// starts, so the case runs to its end.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>

extern "C" int pthread_create(pthread_t* __restrict thread,
                              const pthread_attr_t* __restrict attributes, void* (*start)(void*),
                              void* __restrict argument) noexcept {
  using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  static const auto create = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
  ADD_FAILURE() << "this case starts a thread, but its area is listed in THREADLESS_TESTS "
                   "(tests/CMakeLists.txt), which ThreadSanitizer does not run: take it off "
                   "that list";
  return create(thread, attributes, start, argument);
}
