#pragma once

// Qt's own synchronisation (its mutexes, event queues, thread joins) lives in Debian's
// uninstrumented libraries, so ThreadSanitizer cannot see the ordering they give. Where our data
// crosses threads through Qt, these mark the hand-over; they compile to nothing otherwise.
#if defined(__SANITIZE_THREAD__)
#define KESTREL_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KESTREL_TSAN 1
#endif
#endif

#ifdef KESTREL_TSAN
extern "C" void __tsan_acquire(void *address);
extern "C" void __tsan_release(void *address);
inline void annotateHappensBefore(const void *address) { __tsan_release(const_cast<void *>(address)); }
inline void annotateHappensAfter(const void *address) { __tsan_acquire(const_cast<void *>(address)); }
#else
inline void annotateHappensBefore(const void *) {}
inline void annotateHappensAfter(const void *) {}
#endif
