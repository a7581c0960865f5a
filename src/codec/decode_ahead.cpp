#include "codec/decode_ahead.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace quorvel::codec {

DecodeAhead::DecodeAhead(DecodedStream stream)
    : stream_(std::move(stream)), thread_([this] { run(); }) {}

DecodeAhead::~DecodeAhead() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void DecodeAhead::run() {
  for (;;) {
    std::vector<char> chunk;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || ready_.size() < most_chunks; });
      if (stopping_) return;
      if (!spare_.empty()) {
        chunk = std::move(spare_.back());
        spare_.pop_back();
      }
    }
    chunk.resize(chunk_size);
    std::size_t filled = 0;
    std::optional<IoError> failed;
    // Asked in the pieces the parse asks for itself, so that a decoder that loses the text of the
    // step where it meets a corruption loses the same: the error names the same line either way.
    while (chunk.size() - filled >= piece_size) {
      auto got = stream_.read(std::span<char>(chunk.data() + filled, piece_size));
      if (!got) {
        failed = std::move(got.error());
        break;
      }
      if (*got == 0) break;
      filled += *got;
    }
    chunk.resize(filled);
    const bool last = failed || filled == 0;
    {
      std::lock_guard lock(mutex_);
      if (filled != 0) ready_.push_back(std::move(chunk));
      error_ = std::move(failed);
      ended_ = last;
    }
    changed_.notify_all();
    if (last) return;
  }
}

std::expected<std::size_t, IoError> DecodeAhead::read(std::span<char> into) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return !ready_.empty() || ended_; });
  if (ready_.empty()) {
    if (error_) return std::unexpected(*error_);
    return 0;
  }
  std::vector<char>& front = ready_.front();
  const std::size_t size = std::min(into.size(), front.size() - taken_);
  std::memcpy(into.data(), front.data() + taken_, size);
  taken_ += size;
  if (taken_ == front.size()) {
    spare_.push_back(std::move(front));
    ready_.pop_front();
    taken_ = 0;
    lock.unlock();
    changed_.notify_all();
  }
  return size;
}

}  // namespace quorvel::codec
