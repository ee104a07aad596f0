// Whole-file reads and writes and the standard streams, for the command line.
//
// Paths are the operating system's bytes, not text: a path that is not UTF-8
// is opened as it is. Every failure throws `OsError` with the system's
// description and the errno value, for example
// "No such file or directory (os error 2)". None of these functions touches
// a Python object, so all of them may run without the interpreter lock.
#pragma once

#include <string>
#include <string_view>

namespace kestrel::binding {

// The whole content of the file at `path`, which must be valid UTF-8; else
// throws OsError("stream did not contain valid UTF-8").
std::string read_utf8_file(const std::string& path);

// Creates or truncates the file at `path` and writes `text` into it.
void write_file(const std::string& path, std::string_view text);

// Writes all of `text` to the process's standard output (fd 1) or standard
// error (fd 2). A failure throws OsError("failed printing to stdout: ...").
void print_stdout(std::string_view text);
void print_stderr(std::string_view text);

// True when `bytes` is well-formed UTF-8: no overlong forms, no surrogates,
// nothing past U+10FFFF.
bool is_utf8(std::string_view bytes);

}  // namespace kestrel::binding
