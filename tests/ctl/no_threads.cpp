// Preloaded into a program, makes every thread creation fail as a system
// with no thread to give fails it (a process limit, no memory): EAGAIN.
#include <cerrno>
#include <pthread.h>

extern "C" int pthread_create(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) { return EAGAIN; }
