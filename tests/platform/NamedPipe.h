#pragma once
// A named pipe for tests of readers that must refuse it at once. A reader that
// wrongly opens and waits on the pipe would hang the test for ever; the pipe
// releases such a reader after a second (by opening and closing its writing
// end) and tells the test that it had to.
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace melo::test {

class TNamedPipe {
public:
  explicit TNamedPipe(std::filesystem::path path) : path_(std::move(path)) {
    std::filesystem::remove(path_);
    created_ = ::mkfifo(path_.c_str(), 0600) == 0;
  }
  ~TNamedPipe() { std::filesystem::remove(path_); }
  TNamedPipe(const TNamedPipe&) = delete;
  TNamedPipe& operator=(const TNamedPipe&) = delete;

  bool Created() const { return created_; }
  const std::filesystem::path& Path() const { return path_; }

  struct TOutcome {
    bool Result = false; // what the read returned
    bool Waited = false; // the read blocked for a second and had to be released
  };

  // Runs read (which reads Path()) and reports whether it had to be released.
  template <class Read> TOutcome Run(Read read) {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    std::atomic<bool> waited{false};
    std::thread rescuer([&] {
      std::unique_lock guard(lock);
      if (finished.wait_for(guard, std::chrono::seconds(1), [&] { return done; }))
        return;
      waited = true;
      // Keep opening the writing end until the reader has let go: each open
      // and close ends the reader's wait with an empty read.
      while (!done) {
        guard.unlock();
        int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0)
          ::close(fd);
        guard.lock();
        finished.wait_for(guard, std::chrono::milliseconds(50), [&] { return done; });
      }
    });
    TOutcome outcome;
    outcome.Result = read();
    {
      std::lock_guard guard(lock);
      done = true;
    }
    finished.notify_all();
    rescuer.join();
    outcome.Waited = waited;
    return outcome;
  }

private:
  std::filesystem::path path_;
  bool created_ = false;
};

} // namespace melo::test
