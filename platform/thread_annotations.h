#pragma once
// Locks the compiler checks. Under clang with -Wthread-safety every use of
// data marked GUARDED_BY(lock) is checked to happen with that lock held, and
// every call of a function marked REQUIRES(lock) / EXCLUDES(lock) with it held
// / not held. Other compilers see empty macros.
//
// marquen::Mutex is std::mutex made a capability. std::lock_guard and
// std::unique_lock are specialised for it (the standard allows that for a
// program's own types), so that the usual
//     std::lock_guard guard(m_lock);
// is understood as taking m_lock. Wait on a condition with
// std::condition_variable_any and a std::unique_lock<marquen::Mutex>, in an
// explicit loop or with a predicate lambda marked REQUIRES(lock): the
// analysis does not know that a lambda runs with the lock held.
#include <mutex>

#if defined(__clang__)
#define MARQUEN_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define MARQUEN_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) MARQUEN_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY MARQUEN_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) MARQUEN_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) MARQUEN_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) MARQUEN_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) MARQUEN_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) MARQUEN_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) MARQUEN_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) MARQUEN_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) MARQUEN_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) MARQUEN_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define RETURN_CAPABILITY(x) MARQUEN_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS MARQUEN_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace marquen {

/// std::mutex as a capability the analysis knows.
class CAPABILITY("mutex") Mutex {
public:
    void lock() ACQUIRE() { m_mutex.lock(); }
    void unlock() RELEASE() { m_mutex.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return m_mutex.try_lock(); }

private:
    std::mutex m_mutex;
};

/// Holds a lock the caller has already taken (a timed or tried one) until the
/// end of the scope.
template <class Lockable>
class SCOPED_CAPABILITY AdoptedLock {
public:
    explicit AdoptedLock(Lockable& lock) REQUIRES(lock) : m_lock(lock) {}
    ~AdoptedLock() RELEASE() { m_lock.unlock(); }
    AdoptedLock(const AdoptedLock&) = delete;
    AdoptedLock& operator=(const AdoptedLock&) = delete;

private:
    Lockable& m_lock;
};

}  // namespace marquen

namespace std {

template <>
class SCOPED_CAPABILITY lock_guard<marquen::Mutex> {
public:
    using mutex_type = marquen::Mutex;
    explicit lock_guard(marquen::Mutex& mutex) ACQUIRE(mutex) : m_mutex(mutex) { m_mutex.lock(); }
    lock_guard(marquen::Mutex& mutex, adopt_lock_t) REQUIRES(mutex) : m_mutex(mutex) {}
    ~lock_guard() RELEASE() { m_mutex.unlock(); }
    lock_guard(const lock_guard&) = delete;
    lock_guard& operator=(const lock_guard&) = delete;

private:
    marquen::Mutex& m_mutex;
};

template <>
class SCOPED_CAPABILITY unique_lock<marquen::Mutex> {
public:
    using mutex_type = marquen::Mutex;
    explicit unique_lock(marquen::Mutex& mutex) ACQUIRE(mutex) : m_mutex(mutex) { lock(); }
    ~unique_lock() RELEASE() {
        if (m_owns)
            m_mutex.unlock();
    }
    unique_lock(const unique_lock&) = delete;
    unique_lock& operator=(const unique_lock&) = delete;

    void lock() ACQUIRE() {
        m_mutex.lock();
        m_owns = true;
    }
    void unlock() RELEASE() {
        m_mutex.unlock();
        m_owns = false;
    }
    bool owns_lock() const noexcept { return m_owns; }
    marquen::Mutex* mutex() const noexcept { return &m_mutex; }

private:
    marquen::Mutex& m_mutex;
    bool m_owns = false;
};

}  // namespace std
