// Threads that would not end when asked: a port probe stuck in its open, a
// card log stuck in a file system that stopped answering. They are never
// deleted and stay to the end of the process, and the process ends without
// tearing down what such a thread may still use once the system gives it
// back (the application object, which Qt's event loop reads).
#pragma once

class QThread;

// Keeps `thread` to the end of the process, still reachable (it is no leak).
// Safe from any thread.
void leaveBehind(QThread* thread);
// Whether any thread was left behind.
bool threadsLeftBehind();
