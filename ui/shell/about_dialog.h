// The About box: the program's title and version, its build date, the
// formats it reads and a link to its help pages.
#pragma once

#include <QDialog>

class HyperLinkStatic;

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent = nullptr);
  HyperLinkStatic* link() const { return link_; }

 private:
  HyperLinkStatic* link_;
};

// The link's target: the help index page, as a file URL.
std::string about_link_target();
