#pragma once

// For ThreadSanitizer builds: a hand-over from one thread to another that Qt
// carries out under locks of its own (a queued call, a connection made while
// the emitting thread runs, the end of a QThread that is waited for). The
// system's Qt is not built for ThreadSanitizer, so it cannot see those locks
// and would report the data handed over as raced. What a thread did before
// announceHandOff(key) happens before what another does after
// acceptHandOff(key), the key being any address both agree on. In other
// builds both do nothing.

#if defined(__SANITIZE_THREAD__)
#define LARKSPAN_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define LARKSPAN_THREAD_SANITIZER 1
#endif
#endif

#if defined(LARKSPAN_THREAD_SANITIZER)
extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);

inline void announceHandOff(const void *key)
{
    __tsan_release(const_cast<void *>(key));
}
inline void acceptHandOff(const void *key)
{
    __tsan_acquire(const_cast<void *>(key));
}
#else
inline void announceHandOff(const void *) {}
inline void acceptHandOff(const void *) {}
#endif
