#include "platform/lock.h"

#include <mutex>
#include <new>

struct Lock {
  std::mutex mutex;
};

Lock* LockCreate() {
  return new (std::nothrow) Lock;
}

bool LockWait(Lock* lock) {
  if (lock == nullptr) return false;
  lock->mutex.lock();
  return true;
}

void LockRelease(Lock* lock) {
  if (lock != nullptr) lock->mutex.unlock();
}

void LockClose(Lock* lock) {
  delete lock;
}
