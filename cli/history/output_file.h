#pragma once

#include <string>

namespace velmocair::cli {

// What a reading command writes out. To a file it is written whole or not
// at all: into a temporary file beside it, renamed over it by commit(), and
// removed when the object goes without a commit. An empty path is standard
// output. Throws RunError naming the file when it cannot be written.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void write(const std::string& text);
  // The temporary file, for a program that writes the file itself.
  const std::string& temporary_path() const { return temporary_; }
  void commit();

 private:
  std::string path_;
  std::string temporary_;
  int fd_ = -1;
};

}  // namespace velmocair::cli
