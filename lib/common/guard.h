// Clean-up guards for the library's own resources, so that every return
// path releases what the call took and only success hands it on.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace guard {

// A descriptor closed when the guard goes out of scope, unless released.
// close() keeps errno: the call's own failure is what the caller reports.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  Fd(Fd &&other) noexcept : fd_(other.release()) {}
  Fd &operator=(Fd &&other) noexcept {
    reset(other.release());
    return *this;
  }
  ~Fd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) {
      int saved = errno;
      close(fd_);
      errno = saved;
    }
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// Memory from malloc, freed when the guard goes out of scope unless released.
template <typename T>
class Malloced {
 public:
  Malloced() = default;
  explicit Malloced(T *p) : p_(p) {}
  Malloced(const Malloced &) = delete;
  Malloced &operator=(const Malloced &) = delete;
  Malloced(Malloced &&other) noexcept : p_(other.release()) {}
  Malloced &operator=(Malloced &&other) noexcept {
    reset(other.release());
    return *this;
  }
  ~Malloced() { reset(); }

  T *get() const { return p_; }
  T *operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T *release() { return std::exchange(p_, nullptr); }
  void reset(T *p = nullptr) {
    free(const_cast<void *>(static_cast<const void *>(p_)));
    p_ = p;
  }

 private:
  T *p_ = nullptr;
};

// Runs a clean-up on every path out of the scope unless dismissed.
template <typename F>
class ScopeExit {
 public:
  explicit ScopeExit(F f) : f_(std::move(f)) {}
  ScopeExit(const ScopeExit &) = delete;
  ScopeExit &operator=(const ScopeExit &) = delete;
  ~ScopeExit() {
    if (armed_) f_();
  }
  void dismiss() { armed_ = false; }

 private:
  F f_;
  bool armed_ = true;
};

// Puts errno back as it was when the guard was made, whatever clean-up ran
// since: for paths that must report the first failure's errno.
class ErrnoKeeper {
 public:
  ErrnoKeeper() : saved_(errno) {}
  ErrnoKeeper(const ErrnoKeeper &) = delete;
  ErrnoKeeper &operator=(const ErrnoKeeper &) = delete;
  ~ErrnoKeeper() { errno = saved_; }

 private:
  int saved_;
};

}  // namespace guard
