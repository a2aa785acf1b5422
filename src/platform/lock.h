#pragma once
// A process-wide mutex behind an opaque handle (the memory pool's spare-block lock).

struct Lock;

// Creates an unnamed mutex that nobody owns; null when it cannot be created.
Lock* LockCreate();
// Waits without a time limit; true when the mutex was obtained, false otherwise.
bool LockWait(Lock* lock);
// Releases a mutex obtained with LockWait.
void LockRelease(Lock* lock);
// Closes the handle; null is ignored.
void LockClose(Lock* lock);
