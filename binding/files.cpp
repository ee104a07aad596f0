// Reading and replacing whole files, printing to the standard streams, and
// checking UTF-8.
#include "binding/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <system_error>

#include "binding/boundary.h"

namespace kestrel::binding {
namespace {

// Closes a file descriptor on every path out of a scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  // Closes now, reporting the error that a delayed write may surface here.
  int close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;  // owned descriptor, or -1
};

// Writes all of `text` to `fd`; returns 0 or the errno value of the failure.
int write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

void print_to(int fd, std::string_view text, const char* stream) {
  if (const int error = write_all(fd, text)) {
    throw OsError(error, std::nullopt,
                  std::string("failed printing to ") + stream + ": " +
                      std::system_category().message(error));
  }
}

// Writes `text` to the file at `path` opened with `flags`, closing it.
// Returns 0 or the errno value of the failure.
int write_to(const std::string& path, int flags, std::string_view text) {
  FileDescriptor file(::open(path.c_str(), flags | O_WRONLY | O_CLOEXEC, 0666));
  if (file.get() < 0) return errno;
  if (const int error = write_all(file.get(), text)) return error;
  return file.close() < 0 ? errno : 0;
}

// A name for a new file in the folder of `target`, unlikely to be taken:
// ".<name>.<pid>-<count>.tmp".
std::string temporary_name(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  const std::size_t slash = target.rfind('/');
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  return target.substr(0, start) + "." + target.substr(start) + "." +
         std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
}

// The rest of what `fd` holds, which must be UTF-8; `path` names it in errors.
std::string read_utf8(int fd, const std::optional<std::string>& path) {
  std::string content;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    content.reserve(static_cast<std::size_t>(info.st_size));
  }
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw OsError(errno, path);
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  if (!is_utf8(content)) throw OsError(EILSEQ, path, "stream did not contain valid UTF-8");
  return content;
}

}  // namespace

std::string read_utf8_file(const std::string& path) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) throw OsError(errno, path);
  return read_utf8(file.get(), path);
}

std::string read_utf8_stdin() { return read_utf8(STDIN_FILENO, std::nullopt); }

void replace_file(const std::string& path, std::string_view text) {
  std::string target = path;
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
      target = resolved;
      std::free(resolved);
    }
  }
  const bool exists = ::stat(target.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode)) {
    // A device, a FIFO or a folder: nothing to rename over; write in place
    // (a folder then fails to open, as it should).
    if (const int error = write_to(target, O_TRUNC, text)) throw OsError(error, path);
    return;
  }

  // A file that may not be written is not replaced either.
  if (exists && ::access(target.c_str(), W_OK) < 0) throw OsError(errno, path);

  std::string temporary;
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    temporary = temporary_name(target);
    // The mode is the usual 0666 less the umask, unless the old file's is kept below.
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && (errno != EEXIST || attempt == 100)) throw OsError(errno, path);
  }
  FileDescriptor file(fd);
  int error = 0;
  if (exists && ::fchmod(file.get(), info.st_mode & 07777) < 0) error = errno;
  if (error == 0) error = write_all(file.get(), text);
  if (error == 0 && ::fsync(file.get()) < 0) error = errno;
  if (file.close() < 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temporary.c_str(), target.c_str()) < 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    throw OsError(error, path);
  }
}

void print_stdout(std::string_view text) { print_to(STDOUT_FILENO, text, "stdout"); }

void print_stderr(std::string_view text) { print_to(STDERR_FILENO, text, "stderr"); }

bool is_utf8(std::string_view bytes) {
  std::size_t i = 0;
  const std::size_t n = bytes.size();
  auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
  auto continuation = [&](std::size_t k) { return k < n && (at(k) & 0xC0) == 0x80; };
  while (i < n) {
    const unsigned char b0 = at(i);
    if (b0 < 0x80) {
      ++i;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
      if (!continuation(i + 1)) return false;
      i += 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      if (!continuation(i + 1) || !continuation(i + 2)) return false;
      const unsigned char b1 = at(i + 1);
      if (b0 == 0xE0 && b1 < 0xA0) return false;   // overlong
      if (b0 == 0xED && b1 >= 0xA0) return false;  // surrogate
      i += 3;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      if (!continuation(i + 1) || !continuation(i + 2) || !continuation(i + 3)) return false;
      const unsigned char b1 = at(i + 1);
      if (b0 == 0xF0 && b1 < 0x90) return false;   // overlong
      if (b0 == 0xF4 && b1 >= 0x90) return false;  // past U+10FFFF
      i += 4;
    } else {
      return false;  // a stray continuation byte, C0, C1 or F5..FF
    }
  }
  return true;
}

}  // namespace kestrel::binding
