#pragma once

// Owners of the host's portable threading primitives (pthreads and os_event on every platform
// the host runs on). Each releases only what it created, so a half-built instance tears down
// through the same destructors as a whole one.
#include <util/platform.h>
#include <util/threading.h>

// A plain non-recursive mutex; usable with std::lock_guard once init() succeeded.
class host_mutex {
public:
    host_mutex() = default;
    ~host_mutex() {
        if (ready_)
            pthread_mutex_destroy(&mutex_);
    }
    host_mutex(const host_mutex &) = delete;
    host_mutex &operator=(const host_mutex &) = delete;

    bool init() {
        ready_ = pthread_mutex_init(&mutex_, nullptr) == 0;
        return ready_;
    }
    bool ready() const { return ready_; }
    void lock() { pthread_mutex_lock(&mutex_); }
    void unlock() { pthread_mutex_unlock(&mutex_); }

private:
    pthread_mutex_t mutex_{};
    bool ready_ = false;
};

// A signal given while nobody waits stays pending; several collapse into one wake.
class auto_event {
public:
    auto_event() = default;
    ~auto_event() {
        if (event_)
            os_event_destroy(event_);
    }
    auto_event(const auto_event &) = delete;
    auto_event &operator=(const auto_event &) = delete;

    bool create() { return os_event_init(&event_, OS_EVENT_TYPE_AUTO) == 0; }
    bool ready() const { return event_ != nullptr; }
    void signal() { os_event_signal(event_); }
    void wait() { os_event_wait(event_); }

private:
    os_event_t *event_ = nullptr;
};

// A joinable thread; the owner decides when to join (after telling it to stop), and a thread
// still running at destruction is joined then.
class joinable_thread {
public:
    joinable_thread() = default;
    ~joinable_thread() { join(); }
    joinable_thread(const joinable_thread &) = delete;
    joinable_thread &operator=(const joinable_thread &) = delete;

    bool start(void *(*procedure)(void *), void *argument) {
        started_ = pthread_create(&thread_, nullptr, procedure, argument) == 0;
        return started_;
    }
    bool started() const { return started_; }
    void join() {
        if (started_)
            pthread_join(thread_, nullptr);
        started_ = false;
    }

private:
    pthread_t thread_{};
    bool started_ = false;
};
