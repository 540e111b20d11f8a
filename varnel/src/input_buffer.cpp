#include "input_buffer.h"

namespace varnel {

void InputBuffer::Start(platform::Stream* stream) {
  stream_ = stream;
  pos_ = end_ = 0;
  streamEnded_ = streamFailed_ = failed_ = false;
}

bool InputBuffer::Refill() {
  pos_ = end_ = 0;
  if (!streamEnded_) {
    end_ = platform::Read(stream_, window_, kWindowSize);
    // A short read is the end of the file or an error; after an error
    // nothing more is taken, as reading a byte at a time stopped there.
    streamFailed_ = platform::ReadFailed(stream_);
    streamEnded_ = end_ < kWindowSize || streamFailed_;
  }
  if (end_ > 0) return true;
  failed_ = streamFailed_;
  return false;
}

}  // namespace varnel
