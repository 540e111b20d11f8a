#include "input_buffer.h"

#include <cstring>

namespace varnel {

void InputBuffer::Start(platform::Stream* stream) {
  stream_ = stream;
  pos_ = end_ = 0;
  heldCr_ = streamEnded_ = streamFailed_ = failed_ = false;
  canAsk_ = true;
}

bool InputBuffer::AtRecord() {
  if (failed_) return false;
  if (streamEnded_ && !streamFailed_ && canAsk_) {
    uint8_t byte;
    platform::Read(stream_, &byte, 1);
    if (platform::ReadFailed(stream_)) failed_ = true;
  }
  return !failed_;
}

bool InputBuffer::Refill() {
  pos_ = end_ = 0;
  while (!streamEnded_ && end_ == 0) {
    size_t have = 0;
    if (heldCr_) {
      window_[have++] = '\r';
      heldCr_ = false;
    }
    const size_t want = kWindowSize - have;
    const size_t n = platform::Read(stream_, window_ + have, want);
    // A short read is the end of the file or an error; after an error
    // nothing more is taken, as reading a byte at a time stopped there.
    streamFailed_ = platform::ReadFailed(stream_);
    streamEnded_ = n < want || streamFailed_;
    end_ = ApplyTextRules(have + n);
  }
  if (end_ > 0) return true;
  if (streamFailed_) failed_ = true;
  return false;
}

// Ends the file at a Ctrl-Z and drops the CR of each CR LF of the first
// `length` bytes, in place; returns the bytes left.  A CR at the end of the
// window waits for the next one, unless the file ends there.
size_t InputBuffer::ApplyTextRules(size_t length) {
  uint8_t* w = window_;
  if (const void* z = std::memchr(w, 0x1A, length)) {
    length = static_cast<size_t>(static_cast<const uint8_t*>(z) - w);
    EndAtCtrlZ();
  }
  size_t out = 0;
  size_t from = 0;
  while (from < length) {
    const void* cr = std::memchr(w + from, '\r', length - from);
    const size_t at = cr == nullptr ? length : static_cast<size_t>(static_cast<const uint8_t*>(cr) - w);
    // The run before the CR stays as it is.
    if (out != from) std::memmove(w + out, w + from, at - from);
    out += at - from;
    if (at == length) break;
    if (at + 1 == length) {
      if (!streamEnded_) {
        heldCr_ = true;
        break;
      }
    } else if (w[at + 1] == '\n') {
      from = at + 1;
      continue;
    }
    w[out++] = '\r';
    from = at + 1;
  }
  return out;
}

// The bytes after a Ctrl-Z are never read: the stream goes to its end, so
// that asking it for more at a record reads nothing.  A read error the
// stream met after the Ctrl-Z is none of the file's.
void InputBuffer::EndAtCtrlZ() {
  streamEnded_ = true;
  if (streamFailed_) {
    streamFailed_ = false;
    canAsk_ = false;
    return;
  }
  const int64_t length = platform::Length(stream_);
  canAsk_ = length >= 0 && platform::Seek(stream_, length);
}

}  // namespace varnel
