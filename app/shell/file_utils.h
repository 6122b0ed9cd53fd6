// File dialogs with the program's filter table, the prompts before a file
// is written, path splitting, free disk space and help pages, over the
// platform seams. Paths take "/" and "\" alike.
#pragma once

#include <string>
#include <vector>

#include "platform/disk.h"
#include "platform/prompter.h"

// The filter table: 0 MPEG files ... 10 all files. An index outside
// 0..10 gives entry 0.
inline constexpr int kFileFilterCount = 11;
const char* file_filter_text(int index);
// The save filter a default extension selects (the first of "qme", "mpg",
// "mpv", "mpa", "dat", "m2t", "ac3" found in it); null for any other.
const char* save_filter_for_extension(const std::string& default_ext);
// The filter a dialog shows: the given text, else a save dialog's filter
// by default extension, else the table's entry.
std::string dialog_filter(bool save, int filter_index, const char* filter, const char* default_ext);
// The filter of open_mpeg_file_dialog.
inline constexpr const char* kOpenMpegFilter =
    "MPEG Files (*.mpg;*.vob;*.mp2;*.m2t;*.ts;*.tp;*.m2v;*.dat;*.mpv;*.vro;*.rec)|"
    "*.mpg;*.vob;*.mp2;*.m2t;*.ts;*.tp;*.m2v;*.dat;*.mpv;*.vro;*.rec|All (*.*)|*.*||";

// 1 when a file was chosen into *path. Save dialogs ask before replacing
// and refuse a file in use (check_file_sharing); index 9 always opens.
int file_dialog(std::string* path, int save, int filter_index, const char* filter, const char* default_ext,
                const std::string& folder, const std::string& title);
// Paths chosen (at most max_count), in the dialog's order; 0 when none.
int file_dialog_multi(std::vector<std::string>* paths, int max_count, int filter_index, const char* filter,
                      const char* default_ext, const std::string& folder, const std::string& title);
int open_mpeg_file_dialog(std::string* path, const std::string& folder = {});

// 1 when the file may be written: a missing file at once, an existing one
// after the sharing check and the user's Yes.
int confirm_replace(const std::string& path);
// 0 when the file can be written; 1 (after the message) when it is in use
// by this program or cannot be written; 1 without a message for an empty
// path.
int check_file_sharing(const std::string& path);

// The folder part: up to and including the last "/", "\" or ":", leading
// blanks skipped; empty for a bare name.
std::string split_path(const std::string& path);
// The part after the last "/", "\" or ":" (the whole path without one).
std::string path_file_name(const std::string& path);
// The name's extension after its last "."; false when it has none.
bool get_extension(const std::string& path, std::string* ext);
std::string trim_blanks(const std::string& text);
// The absolute path of a name (relative names against the working
// folder); 0 for an empty name.
int get_full_path(const std::string& name, std::string* out);
// get_full_path of a name that can be opened for reading.
int get_existing_full_path(const std::string& name, std::string* out);

// Bytes free on the file system of path (its nearest existing folder).
double get_disk_free(const std::string& path);
// The local disks (mount points) with their free bytes, at most max_count.
int list_fixed_drives(std::vector<Volume>* out, int max_count);
// Reads each volume's free bytes again; the number that changed.
int refresh_disk_free(std::vector<Volume>* volumes);
// The low-space warning for a disk (its mount point, or empty): Abort,
// Retry or Ignore.
PromptAnswer warn_disk_space(const std::string& mount);

// Shows a help page by its address ("help.chm::/htm/chap00-1.htm").
int show_help(const std::string& page);
