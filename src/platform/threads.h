#pragma once
// Threads: the main (user-interface) thread's identity and sleeping. The connect worker thread and the locks
// are the standard library's std::thread, std::mutex and std::shared_mutex, which both targets provide.
namespace platform {

// Marks the calling thread as the main thread; the program entry calls it first.
void RegisterMainThread();
bool IsMainThread();
void SleepMilliseconds(int milliseconds);

}  // namespace platform
