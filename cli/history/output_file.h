#pragma once

#include <string>
#include <string_view>

namespace velmocair::cli {

// What a reading command writes out. A regular file, or one that does not
// exist yet, is written whole or not at all: into a temporary file beside
// it, renamed over it by commit(), and removed when the object goes without
// a commit. Any other target (a FIFO, a device node such as /dev/null, a
// symbolic link) is opened and written in place: a rename would replace
// it; a path to standard output itself (/dev/stdout) is standard output. An
// empty path is standard output. Throws
// RunError naming the file when it cannot be written, OutputClosed when
// the reading end of a pipe has gone.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void write(std::string_view text);
  void commit();

 private:
  std::string path_;
  std::string temporary_;  // empty when written in place
  int fd_ = -1;
  bool owned_ = false;  // fd_ is closed here
};

}  // namespace velmocair::cli
