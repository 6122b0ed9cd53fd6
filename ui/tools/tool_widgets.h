// Small pieces the stream tool windows share.
#pragma once

#include <functional>
#include <vector>

class QGridLayout;
class QLineEdit;
#include "platform/disk.h"

class QComboBox;
class QPushButton;
class QWidget;

// A push button that is never the dialog's default, found by its name.
QPushButton* tool_button(const char* text, const char* name, QWidget* parent);
// Calls the window's closed callback once.
void tell_closed_once(std::function<void()>* closed);
// A file row of a grid: the label, a line edit named edit_name and a "..."
// button named browse_name, all made in parent.
void add_file_row(QGridLayout* grid, int row, const char* label, QWidget* parent, const char* edit_name,
                  QLineEdit** edit, const char* browse_name, QPushButton** browse);
// The "Disk Space" list: each disk with its free megabytes.
void fill_disk_list(QComboBox* box, const std::vector<Volume>& disks, int index);
