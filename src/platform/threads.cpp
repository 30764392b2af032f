#include "platform/threads.h"

bool mutex_init(pthread_mutex_t *mutex) {
    return pthread_mutex_init(mutex, nullptr) == 0;
}

void mutex_destroy(pthread_mutex_t *mutex) {
    pthread_mutex_destroy(mutex);
}

bool auto_event_create(os_event_t **event) {
    return os_event_init(event, OS_EVENT_TYPE_AUTO) == 0;
}

void event_signal(os_event_t *event) {
    os_event_signal(event);
}

void event_wait(os_event_t *event) {
    os_event_wait(event);
}

void event_close(os_event_t *event) {
    os_event_destroy(event);
}

bool thread_start(pthread_t *thread, void *(*procedure)(void *), void *argument) {
    return pthread_create(thread, nullptr, procedure, argument) == 0;
}

void thread_join(pthread_t thread) {
    pthread_join(thread, nullptr);
}
