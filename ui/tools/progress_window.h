// A small window for a tool job's progress: percentage, bar, Pause and
// Stop (asking through the Prompter). Installed as the tool jobs' view.
#pragma once

#include <memory>

#include "app/tools/tool_job.h"

class QWidget;

// Makes the views as top-level windows owned by parent.
ProgressViewFactory qt_progress_views(QWidget* parent);
