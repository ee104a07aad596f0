// Whole-file reads and writes and the standard streams, for the command line.
//
// Paths are the operating system's bytes, not text: a path that is not UTF-8
// is opened as it is. Every failure throws `OsError` with the errno value and
// the path, which the module raises as, say, FileNotFoundError. A file is
// replaced whole or not at all: the text goes to a new file beside it, which
// is renamed over it once written, so a failed write (a full disk) leaves the
// old file as it was. None of these functions touches a Python object, so all
// of them may run without the interpreter lock.
#pragma once

#include <string>
#include <string_view>

namespace kestrel::binding {

// The whole content of the file at `path`, which must be valid UTF-8; else
// throws an OsError of EILSEQ, "stream did not contain valid UTF-8".
std::string read_utf8_file(const std::string& path);

// The whole of standard input (fd 0), which must be valid UTF-8, as
// read_utf8_file reads a file; an OsError has no file name.
std::string read_utf8_stdin();

// Makes the file at `path` hold `text`: a new regular file beside it, with
// the old file's permissions if there was one, renamed over it. A path that
// names something other than a regular file (/dev/stdout, a FIFO) is written
// directly; a symbolic link is followed and its target replaced.
void replace_file(const std::string& path, std::string_view text);

// Writes all of `text` to the process's standard output (fd 1) or standard
// error (fd 2). A failure throws an OsError whose text begins "failed printing
// to stdout: ".
void print_stdout(std::string_view text);
void print_stderr(std::string_view text);

// True when `bytes` is well-formed UTF-8: no overlong forms, no surrogates,
// nothing past U+10FFFF.
bool is_utf8(std::string_view bytes);

}  // namespace kestrel::binding
