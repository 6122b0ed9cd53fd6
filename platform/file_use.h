// Which files the program is using. Nothing on this system stops a write
// over a file being read, so before an output is written the program asks
// here: a file open as the input of an editor or tool, or the output of a
// running job, is refused, compared by device and inode (links and other
// spellings of a path name the same file).
#pragma once

#include <functional>
#include <string>
#include <vector>

class FileUse {
 public:
  virtual ~FileUse() = default;
  // Registers the files an owner reads, asked each time a path is checked
  // (an editor's clip list changes with its edits); a token for release().
  virtual int add_inputs(std::function<std::vector<std::string>()> lister) = 0;
  // Registers the output of a running job; a token for release().
  virtual int add_output(const std::string& path) = 0;
  virtual void release(int token) = 0;
  // Whether path names a registered input or output.
  virtual bool in_use(const std::string& path) = 0;
  // Whether the file can be written: an existing one opened for writing
  // (untouched), a missing one created and removed again.
  virtual bool writable(const std::string& path) = 0;
};

// The process's registry (thread-safe; listers are called without its
// lock held).
class SystemFileUse : public FileUse {
 public:
  SystemFileUse();
  ~SystemFileUse() override;
  int add_inputs(std::function<std::vector<std::string>()> lister) override;
  int add_output(const std::string& path) override;
  void release(int token) override;
  bool in_use(const std::string& path) override;
  bool writable(const std::string& path) override;

 private:
  struct Impl;
  Impl* impl_;
};

// Whether two paths name one file: same device and inode when both exist,
// else the same canonical spelling.
bool same_file(const std::string& a, const std::string& b);
