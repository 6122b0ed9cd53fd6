#include "ui/audio/audio_player_tool.h"

#include <QPointer>

#include "app/shell/command_ids.h"
#include "app/shell/editor_app.h"
#include "ui/audio/audio_dialogs.h"
#include "ui/audio/audio_editor_dlg.h"

namespace {

class AudioPlayerTool : public ToolWindow {
 public:
  explicit AudioPlayerTool(CAudioEditorDlg* w) : w_(w) {}
  void close() override {
    if (w_) w_->close();
  }
  bool is_busy() const override { return w_ && w_->save_running(); }
  void stop_job() override {
    if (w_) w_->stop_save();
  }
  CAudioEditorDlg* window() const { return w_; }

 private:
  QPointer<CAudioEditorDlg> w_;
};

}  // namespace

void register_audio_player(CEditorApp* app) {
  app->tools().add(
      cmd::kAudioPlayer,
      [](std::function<void()> closed) -> ToolWindow* {
        auto* w = new CAudioEditorDlg();
        auto* tool = new AudioPlayerTool(w);
        w->SetCloseCallback([tool, closed] {
          closed();
          delete tool;
        });
        w->show();
        return tool;
      },
      ToolRerun::Nothing);
  app->commands().add(cmd::kAudioConfigure, [app] {
    CAudioConfigDlg dlg([app] { app->UpdateVolumeSlider(); });
    dlg.exec();
  });
  app->set_audio_player([app](const std::string& path) {
    if (!app->tools().is_open(cmd::kAudioPlayer)) app->tools().run(cmd::kAudioPlayer);
    if (auto* tool = dynamic_cast<AudioPlayerTool*>(app->tools().window(cmd::kAudioPlayer)))
      if (CAudioEditorDlg* w = tool->window()) {
        w->OpenTrack(path);
        w->raise();
      }
  });
}
