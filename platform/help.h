// Help pages and the desktop's "open": the windows ask for a page by its
// address ("help.chm::/htm/chap00-1.htm"); the pages are local HTML files
// under the program's data folder (help/htm/chap00-1.htm).
#pragma once

#include <string>

class Paths;

class Desktop {
 public:
  virtual ~Desktop() = default;
  // Opens a URL (file:// or web) with the desktop's handler; false when
  // nothing could.
  virtual bool open_url(const std::string& url) = 0;
};

class Help {
 public:
  virtual ~Help() = default;
  // Shows the page; 1 when shown, 0 when not.
  virtual int show(const std::string& page) = 0;
};

// The file of a page address under data_folder: the part after "::" (or
// the whole address), with backslashes as slashes, below "help/". Empty
// for an address that would leave the help folder.
std::string help_page_file(const std::string& data_folder, const std::string& page);

// Help from the local pages, opened through the desktop.
class LocalHelp : public Help {
 public:
  LocalHelp(Paths* paths, Desktop* desktop) : paths_(paths), desktop_(desktop) {}
  int show(const std::string& page) override;

 private:
  Paths* paths_;
  Desktop* desktop_;
};
