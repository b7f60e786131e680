// Loaded with LD_PRELOAD by the tests: every thread the engine asks for is
// refused, as on a system that has none left to give.
#include <pthread.h>

#include <cerrno>

extern "C" int pthread_create(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) { return EAGAIN; }
