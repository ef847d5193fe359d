// The loading screen's thread: animates while the main thread builds the parts.
#pragma once
#include <atomic>

// 1 while the loading screen must keep animating. Written by the main thread, polled by the loading
// thread once per frame: atomic, since the two threads share it.
extern std::atomic<int> loading_active;

int loading_thread_main(void* unused);  // the thread body; 0 after a normal end
