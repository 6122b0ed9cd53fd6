#include "ui/tools/tool_windows.h"

#include "app/shell/command_ids.h"
#include "app/shell/editor_app.h"
#include "app/shell/editor_settings.h"
#include "ui/tools/batch_save_dialog.h"
#include "ui/tools/convertor_dialog.h"
#include "ui/tools/demux_dialog.h"
#include "ui/tools/gop_fixer_dialog.h"
#include "ui/tools/mbs_scan_dialog.h"
#include "ui/tools/mux_dialog.h"
#include "ui/tools/progress_window.h"

namespace {

template <class Window>
void add_tool(CEditorApp* app, QWidget* owner, int id) {
  app->tools().add(
      id,
      [owner](std::function<void()> closed) -> ToolWindow* {
        auto* w = new Window(std::move(closed), owner);
        w->show();
        return w;
      },
      ToolRerun::CloseUnlessBusy);
}

}  // namespace

void register_tool_windows(CEditorApp* app, QWidget* owner) {
  install_tool_progress_views(qt_progress_views(owner));
  add_tool<ConvertorDialog>(app, owner, cmd::kStreamConvertor);
  add_tool<DemuxDialog>(app, owner, cmd::kDemultiplexer);
  add_tool<MuxDialog>(app, owner, cmd::kMultiplexer);
  add_tool<GopFixerDialog>(app, owner, cmd::kGopFixer);
  install_batch_save(app, owner);
  app->mbs_scans().set_factory([app, owner](const std::string& path, std::function<void()> closed) -> ToolWindow* {
    auto* w = new MbsScanDialog(
        path, [app](const std::string& f) { app->on_mbs_scan_event(f); }, std::move(closed), owner);
    w->show();
    if (!path.empty() && editor_settings().mbs_scan_auto_start && w->model().can_start()) w->start_scan();
    return w;
  });
}
