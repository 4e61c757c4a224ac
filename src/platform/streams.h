#pragma once

// The standard streams, handled the way each operating system needs. One file
// per system implements this (streams_posix.cpp, ...); the core stays free of
// system calls.

#include <sys/types.h>

#include <cstddef>

namespace inputfeed {

// Called first in main, before anything opens a file or a connection. Gives
// every program the same footing whatever it inherited: each of the three
// standard descriptors open (a closed one is reopened on the null device, so
// that nothing opened later takes its number and gets read as input or written
// as diagnostics), and a write to a vanished reader reported as an error
// instead of ending the process.
void prepareStandardStreams();

// Reads up to `size` bytes from descriptor `fd`, with read(2)'s results: bytes
// read, 0 at end of input, -1 when the read failed. An interrupted read is
// retried, and a descriptor inherited in non-blocking mode is waited on rather
// than reported as failed.
ssize_t readInput(int fd, char* buffer, std::size_t size);

// Waits until `inputFd` can be read without blocking (data, its end, or an
// error) or `connectionFd` has something to read or has hung up; true when the
// input is ready. With no connection (-1) it returns true at once.
bool awaitInput(int inputFd, int connectionFd);

// Writes all `size` bytes to standard output, waiting while it is full.
// Returns false when the output is gone (closed, no reader, disk full).
bool writeOutput(const char* data, std::size_t size);

}  // namespace inputfeed
