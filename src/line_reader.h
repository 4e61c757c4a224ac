#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "command/decoder.h"

namespace inputfeed {

// What LineReader::next hands back.
struct Line {
    enum class Kind : std::uint8_t {
        text,     // a line of at most kMaxLineBytes, terminator removed
        tooLong,  // a longer line, consumed up to its line feed; its bytes are gone
        end,      // end of input or a failed read: nothing more will come
    };
    Kind kind = Kind::end;
    // For Kind::text: the line's bytes inside the reader's buffer, valid until
    // the next call to next().
    std::string_view text;

    friend bool operator==(const Line&, const Line&) = default;
};

// Splits a byte stream into lines. It reads into one buffer allocated up front
// and never grown, so memory stays bounded whatever arrives, and hands each line
// over as soon as its line feed is in, without waiting for more input.
//
// A line ends at a line feed; a carriage return directly before it is removed
// too, any other carriage return stays. A last line without a line feed is
// still handed over at end of input. A line longer than kMaxLineBytes is read to
// its line feed without being kept and reported once as Kind::tooLong.
class LineReader {
public:
    // Where the bytes come from: read(2) semantics (bytes read, 0 at end of
    // input, -1 with errno set). The agent reads standard input; tests
    // substitute a scripted source.
    using ReadFunction = ssize_t (*)(void* context, char* buffer, std::size_t size);

    // Bytes asked of the source per read.
    static constexpr std::size_t kReadChunk = std::size_t{64} << 10;

    LineReader(ReadFunction read, void* context);
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    ~LineReader();

    // True when next() can return without reading: a complete line is buffered
    // or the input has ended. When false, next() will block in a read.
    bool lineReady();

    // The next line, reading as much as it takes. A read interrupted by a signal
    // is retried; a failed read ends the input, and the unfinished line it cut
    // off is dropped rather than acted on half-received.
    Line next();

    // The errno of the read that failed and so ended the input, else 0.
    int readError() const { return readError_; }

private:
    ssize_t readSome(char* buffer, std::size_t size);
    bool findLineFeed();
    void makeRoomToRead();

    ReadFunction read_ = nullptr;
    void* context_ = nullptr;

    std::unique_ptr<char[]> buffer_;
    std::size_t start_ = 0;     // first byte of the current line
    std::size_t scanned_ = 0;   // bytes before this index hold no line feed
    std::size_t end_ = 0;       // one past the last byte read
    std::size_t lineFeed_ = 0;  // index of the line feed found, when found_
    bool found_ = false;
    bool discarding_ = false;  // inside a too-long line, waiting for its line feed
    bool finished_ = false;    // the source reported end of input
    bool failed_ = false;      // the source reported an error
    int readError_ = 0;
};

}  // namespace inputfeed
