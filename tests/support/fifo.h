#pragma once
// A named pipe for tests of readers that must not block on one. A reader
// that opens the pipe waits for a writer; runUnblocking plays that writer
// when the reader is still busy after a while, so a faulty reader fails the
// test instead of hanging it.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace vexel::test {

// Makes a FIFO at `path`; false when the platform refuses.
inline bool makeFifo(const std::string& path) {
    ::unlink(path.c_str());
    return ::mkfifo(path.c_str(), 0600) == 0;
}

// Runs `body`. If it has not returned after `patience`, opens the FIFO at
// `fifo` for writing and closes it again (a reader blocked in opening it
// then reads an empty stream). Returns whether that was needed.
inline bool neededUnblocking(const std::string& fifo, const std::function<void()>& body,
                             std::chrono::milliseconds patience = std::chrono::milliseconds(2000)) {
    std::atomic<bool> done{false};
    bool unblocked = false;
    std::thread guard([&] {
        const auto until = std::chrono::steady_clock::now() + patience;
        while (!done && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        // Keep offering a writer until the body is through.
        while (!done) {
            const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                unblocked = true;
                ::close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    body();
    done = true;
    guard.join();
    return unblocked;
}

}  // namespace vexel::test
