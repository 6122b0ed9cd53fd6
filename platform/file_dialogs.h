// File dialogs: open, open several, save, and the Snapshot's save with its
// "Image Format" choice. Filters come in the windows' "a|b||" syntax
// (description, patterns, ..., ending with an empty pair).
#pragma once

#include <string>
#include <vector>

enum class FileDialogKind { Open, OpenMulti, Save, SaveImage };

// The Snapshot's image formats, in the order of their buttons.
enum class ImageFormat { Bitmap = 0, Jpeg = 1, Mpeg = 2 };

struct FileDialogRequest {
  FileDialogKind kind = FileDialogKind::Open;
  std::string title;
  std::string folder;       // where the dialog starts; empty: its own choice
  std::string filter;       // "a|b||" syntax
  std::string default_ext;  // without the dot; empty: none
  std::string file_name;    // name shown at start
  int max_files = 1;        // OpenMulti
  // Open dialogs: the chosen files must exist. Save dialogs: ask before
  // replacing an existing file.
  bool must_exist = true;
  bool overwrite_prompt = true;
  ImageFormat image_format = ImageFormat::Bitmap;  // SaveImage: checked at start
};

struct FileDialogResult {
  bool accepted = false;
  std::vector<std::string> paths;  // one unless OpenMulti
  ImageFormat image_format = ImageFormat::Bitmap;  // SaveImage: the one chosen
};

class FileDialogs {
 public:
  virtual ~FileDialogs() = default;
  virtual FileDialogResult run(const FileDialogRequest& request) = 0;
};

// One entry of a filter text.
struct FileFilter {
  std::string description;
  std::vector<std::string> patterns;
};

// Splits "a|b|c|d||" into its entries; empty patterns (";;") are dropped,
// an entry without patterns matches everything.
std::vector<FileFilter> parse_file_filter(const std::string& text);
// Whether a file name matches a pattern ("*", "?", as the dialogs read
// them): case is ignored and "*.*" matches every name, dot or not.
bool file_pattern_matches(const std::string& pattern, const std::string& name);
bool file_filter_matches(const FileFilter& filter, const std::string& name);
// The filter as a name filter of a toolkit that takes "description
// (pattern pattern)" and matches case-sensitively: each pattern spelled
// with both cases ("*.[mM][pP][gG]"), "*.*" as "*".
std::string name_filter_string(const FileFilter& filter);
