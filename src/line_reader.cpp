#include "line_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace inputfeed {
namespace {

// Room for the longest accepted line with its CR LF, plus one read's worth, so a
// read never has to wait for the buffer to drain.
constexpr std::size_t kCapacity = kMaxLineBytes + 2 + LineReader::kReadChunk;

// An unfinished line this short is moved to the front before every read, which
// keeps the touched part of the buffer (and so the resident memory) small.
constexpr std::size_t kSmallMove = 4096;

}  // namespace

// The buffer is left uninitialised: pages the input never reaches stay untouched.
LineReader::LineReader(ReadFunction read, void* context)
    : read_(read), context_(context), buffer_(std::make_unique_for_overwrite<char[]>(kCapacity)) {}

LineReader::~LineReader() = default;

ssize_t LineReader::readSome(char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = read_(context_, buffer, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}

bool LineReader::findLineFeed() {
    if (found_) return true;
    const char* base = buffer_.get();
    const void* hit = std::memchr(base + scanned_, '\n', end_ - scanned_);
    if (hit == nullptr) {
        scanned_ = end_;
        return false;
    }
    lineFeed_ = static_cast<std::size_t>(static_cast<const char*>(hit) - base);
    found_ = true;
    return true;
}

bool LineReader::lineReady() {
    return findLineFeed() || finished_ || failed_;
}

void LineReader::makeRoomToRead() {
    const std::size_t pending = end_ - start_;
    if (pending == 0) {
        start_ = scanned_ = end_ = 0;
        return;
    }
    if (start_ > 0 && (kCapacity - end_ < kReadChunk || pending <= kSmallMove)) {
        std::memmove(buffer_.get(), buffer_.get() + start_, pending);
        start_ = 0;
        scanned_ = end_ = pending;
    }
}

Line LineReader::next() {
    for (;;) {
        if (findLineFeed()) {
            const std::size_t lineStart = start_;
            const std::size_t lineFeed = lineFeed_;
            start_ = scanned_ = lineFeed + 1;
            found_ = false;
            if (discarding_) {
                discarding_ = false;
                return {Line::Kind::tooLong, {}};
            }
            std::size_t length = lineFeed - lineStart;
            if (length > 0 && buffer_[lineFeed - 1] == '\r') --length;
            if (length > kMaxLineBytes) return {Line::Kind::tooLong, {}};
            return {Line::Kind::text, {buffer_.get() + lineStart, length}};
        }

        // No line feed is buffered. Past the limit (one byte of slack for a CR
        // that may precede the line feed) the line can only be refused, so its
        // bytes are dropped as they come instead of being kept.
        if (discarding_ || end_ - start_ > kMaxLineBytes + 1) {
            discarding_ = true;
            start_ = scanned_ = end_ = 0;
        }
        if (failed_) {
            discarding_ = false;
            start_ = scanned_ = end_ = 0;
            return {};
        }
        if (finished_) {
            if (discarding_) {
                discarding_ = false;
                return {Line::Kind::tooLong, {}};
            }
            if (start_ == end_) return {};
            // The last line has no terminator, so a trailing CR belongs to it.
            const std::size_t lineStart = start_;
            const std::size_t length = end_ - start_;
            start_ = scanned_ = end_;
            if (length > kMaxLineBytes) return {Line::Kind::tooLong, {}};
            return {Line::Kind::text, {buffer_.get() + lineStart, length}};
        }

        makeRoomToRead();
        const ssize_t n = readSome(buffer_.get() + end_, std::min(kReadChunk, kCapacity - end_));
        if (n > 0) {
            end_ += static_cast<std::size_t>(n);
        } else if (n == 0) {
            finished_ = true;
        } else {
            failed_ = true;
            readError_ = errno;
        }
    }
}

}  // namespace inputfeed
