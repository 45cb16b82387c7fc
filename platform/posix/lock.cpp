// Lock on a pthread mutex constructed inside the Lock's own storage.
// The mutex is recursive: the owning thread may enter again, as with the
// Windows critical section, so both builds behave alike.
#include "platform/platform.h"

#include <pthread.h>

#include <new>

namespace tovi::platform {
namespace {

pthread_mutex_t* Native(unsigned char* storage) {
    return std::launder(reinterpret_cast<pthread_mutex_t*>(storage));
}

}  // namespace

void Lock::Initialise() {
    static_assert(sizeof(pthread_mutex_t) <= sizeof(storage_), "mutex does not fit the Lock storage");
    static_assert(alignof(pthread_mutex_t) <= 16, "mutex needs more alignment than the Lock storage has");
    auto* mutex = ::new (static_cast<void*>(storage_)) pthread_mutex_t;
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

void Lock::Delete() { pthread_mutex_destroy(Native(storage_)); }

void Lock::Enter() { pthread_mutex_lock(Native(storage_)); }

void Lock::Leave() { pthread_mutex_unlock(Native(storage_)); }

}  // namespace tovi::platform
