#include "ui/tools/tool_windows.h"

#include "app/shell/command_ids.h"
#include "app/shell/editor_app.h"
#include "ui/tools/convertor_dialog.h"
#include "ui/tools/progress_window.h"

void register_tool_windows(CEditorApp* app, QWidget* owner) {
  install_tool_progress_views(qt_progress_views(owner));
  app->tools().add(
      cmd::kStreamConvertor,
      [owner](std::function<void()> closed) -> ToolWindow* {
        auto* w = new ConvertorDialog(std::move(closed), owner);
        w->show();
        return w;
      },
      ToolRerun::CloseUnlessBusy);
}
