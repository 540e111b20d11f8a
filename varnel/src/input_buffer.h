// A text file read a window at a time, for the readers that take their input
// byte by byte (object records, firmware S-records, screen files): a byte is
// an array read, not a call into the platform layer.
//
// The stream is a text stream, so the platform layer's text rules (CR LF
// reads as LF, a Ctrl-Z ends the file) hold as they hold for any other
// reader.  A read error stays where the stream met it: the bytes before it
// read as usual, and the reader that reaches it gets the end of the file
// with Failed() true -- never a plain end of the file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace varnel {

class InputBuffer {
 public:
  // The platform stream's own buffer size: the file is read from the system
  // in the same pieces whichever way it is read.
  static constexpr size_t kWindowSize = 64 * 1024;

  // Reads `stream` (opened in text mode) from its current position on.
  void Start(platform::Stream* stream);

  // The next byte (0 to 255), or platform::kEndOfFile at the end of the
  // file and at a read error.
  int Next() {
    if (pos_ == end_ && !Refill()) return platform::kEndOfFile;
    return window_[pos_++];
  }

  // The next `n` bytes where the window holds them all (nullptr where it
  // does not); Skip(n) then takes them.  Available() bytes are there.
  const uint8_t* Peek(size_t n) const { return end_ - pos_ >= n ? window_ + pos_ : nullptr; }
  size_t Available() const { return end_ - pos_; }
  void Skip(size_t n) { pos_ += n; }

  // A read error stopped the reader.
  bool Failed() const { return failed_; }

 private:
  bool Refill();

  platform::Stream* stream_ = nullptr;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool streamEnded_ = false;   // nothing more is read from the stream
  bool streamFailed_ = false;  // and it ended in a read error
  bool failed_ = false;
  uint8_t window_[kWindowSize];
};

}  // namespace varnel
