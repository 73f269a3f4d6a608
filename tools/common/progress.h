// A progress line for the tools' long passes over a file: shown on standard error only
// when it is a terminal, only once a run has lasted a few seconds, redrawn in place at
// most a few times a second, and wiped when the meter goes.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <utility>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace varmex::tools {

inline bool StandardErrorIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

class ProgressMeter {
 public:
  using Clock = std::function<double()>;  // seconds from any fixed point
  static constexpr double kQuietSeconds = 2.0;
  static constexpr double kEverySeconds = 0.25;

  // `on` false: the meter shows nothing (standard error is no terminal).
  ProgressMeter(std::ostream& err, std::string name, bool on, Clock clock = Steady)
      : err_(err), name_(std::move(name)), on_(on), clock_(std::move(clock)), start_(clock_()) {}
  ~ProgressMeter() { Wipe(); }
  ProgressMeter(const ProgressMeter&) = delete;
  ProgressMeter& operator=(const ProgressMeter&) = delete;

  // Where a pass over the file has come; a block before the last one told starts a pass.
  void Tell(int32_t block, int32_t last) {
    if (!on_) return;
    if (block < block_) ++pass_;
    block_ = block;
    const double now = clock_();
    if (now - start_ < kQuietSeconds || (shown_ >= 0 && now - shown_ < kEverySeconds)) return;
    shown_ = now;
    std::string line = name_ + ": block " + std::to_string(block) + " of " + std::to_string(last);
    if (pass_ > 1) line += ", pass " + std::to_string(pass_);
    const size_t width = line.size();
    if (line.size() < width_) line.append(width_ - line.size(), ' ');
    err_ << '\r' << line << std::flush;
    width_ = width;
  }
  std::function<void(int32_t, int32_t)> Callback() {
    if (!on_) return {};
    return [this](int32_t block, int32_t last) { Tell(block, last); };
  }
  // Clears the line, before the tool says anything else on standard error.
  void Wipe() {
    if (width_ == 0) return;
    err_ << '\r' << std::string(width_, ' ') << '\r' << std::flush;
    width_ = 0;
  }

 private:
  static double Steady() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  std::ostream& err_;
  std::string name_;
  bool on_;
  Clock clock_;
  double start_;
  double shown_ = -1;
  int32_t block_ = 0;
  int pass_ = 1;
  size_t width_ = 0;
};

}  // namespace varmex::tools
