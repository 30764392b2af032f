#pragma once

// Threads, non-recursive mutexes and the auto-reset event. The host's own
// portable primitives serve on every platform it runs on.
#include <util/threading.h>

bool mutex_init(pthread_mutex_t *mutex);
void mutex_destroy(pthread_mutex_t *mutex);

class mutex_lock {
public:
    explicit mutex_lock(pthread_mutex_t &mutex) : mutex_(mutex) { pthread_mutex_lock(&mutex_); }
    ~mutex_lock() { pthread_mutex_unlock(&mutex_); }
    mutex_lock(const mutex_lock &) = delete;
    mutex_lock &operator=(const mutex_lock &) = delete;

private:
    pthread_mutex_t &mutex_;
};

// A signal given while nobody waits stays pending; several collapse into one wake.
bool auto_event_create(os_event_t **event);
void event_signal(os_event_t *event);
void event_wait(os_event_t *event);
void event_close(os_event_t *event);

bool thread_start(pthread_t *thread, void *(*procedure)(void *), void *argument);
void thread_join(pthread_t thread);
