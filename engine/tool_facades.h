// What the GOP time-code repair window holds: a facade over the fixer it
// creates. Every call is safe before create and after destroy, returning a
// fixed default, so the window may poll at any time.
#pragma once

#include <cstdint>
#include <memory>

class GopFixer;

class GopFixerFacade {
 public:
  GopFixerFacade();
  ~GopFixerFacade();
  GopFixerFacade(const GopFixerFacade&) = delete;
  GopFixerFacade& operator=(const GopFixerFacade&) = delete;

  void create();
  void destroy();
  bool exists() const { return fixer_ != nullptr; }

  // 0 ready; 1 without a fixer or when the file cannot be checked.
  int init(const char* name);
  void cleanup();
  void set_out_fname(const char* name);
  // One step each (see GopFixer); 0 without a fixer.
  int scan();
  int fix();
  // Every record fixed (1 without a fixer: nothing is left to do).
  int is_done() const;
  // Finishes a copy; -1 when it failed, 0 without a fixer.
  int close();
  int get_error_count() const;
  int get_error_fix_count() const;
  int get_long_gop_count() const;
  // Progress in bytes; 0 without a fixer.
  uint64_t get_file_size() const;
  uint64_t get_position() const;

 private:
  std::unique_ptr<GopFixer> fixer_;
};
