// The Video Clip List window over real movies: F6 opens it with the list
// of "VidList.cfg", OK opens the list as "Clip List #N" and writes the
// settings back.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTreeWidget>

#include "app/shell/command_ids.h"
#include "app/shell/editor_settings.h"
#include "app/shell/kept_file.h"
#include "app/shell/mpeg_editor_adapter.h"
#include "platform/fakes.h"
#include "support.h"
#include "ui/shell/main_window.h"
#include "ui/tools/clip_list_dialog.h"

namespace {

TEST(ClipListDialog, F6ShowsTheKeptListAndOkOpensItAsAnEditor) {
  TSUPPORT_NEED_FIXTURES("ui.mpg", "fa_ps.mpg");
  FakePlatform fp;
  editor_settings() = EditorSettings();
  CEditorApp app(&MpegEditorAdapter::open);
  app.set_clip_factory(&MpegEditorAdapter::from_clip);
  app.init_instance();
  const std::string dir = tsupport::test_dir();
  editor_settings().program_folder = dir;
  const std::string a = tsupport::fixture("ui.mpg"), b = tsupport::fixture("fa_ps.mpg");
  ASSERT_TRUE(write_kept_file(dir + "/VidList.cfg", "VideoLlistTimeFormat: 0\nVideoLlistInitSelect: 1\n"
                                                    "[ClipList]: 2\n[Clip]: 0 50 0 0 0 0 0 0 0\n\t" +
                                                        a + " \n[Clip]: 10 40 0 0 0 0 0 0 0\n\t" + b + " \n"));
  {
    MainWindow main(&app);
    install_clip_list(&app, &main);
    main.show();
    ASSERT_TRUE(main.run_command(cmd::kVideoClipList));
    auto* dialog = main.findChild<ClipListDialog*>();
    ASSERT_NE(dialog, nullptr);
    auto* list = dialog->findChild<QTreeWidget*>("c1346");
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(1)->text(1), QStringLiteral("10"));
    EXPECT_EQ(list->topLevelItem(1)->text(2), QStringLiteral("40"));
    dialog->findChild<QPushButton*>("OK")->click();
    QApplication::processEvents();
    EXPECT_EQ(app.editor_count(), 1);
    QMdiSubWindow* sub = main.mdi_area()->subWindowList().back();
    EXPECT_EQ(sub->windowTitle().toStdString().find("Clip List #"), 0u) << sub->windowTitle().toStdString();
    EditorEntry* e = app.entry(0);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->editor->get_total_frames(), 90);
    EXPECT_EQ(e->editor->get_curr_frame_offset(), 50);  // the first frame of the selected clip
    main.mdi_area()->closeAllSubWindows();
    main.close();
  }
  std::string text;
  ASSERT_TRUE(read_kept_file(dir + "/VidList.cfg", &text));
  EXPECT_NE(text.find("VideoLlistInitSelect: 1\n"), std::string::npos);
  EXPECT_NE(text.find("[ClipList]: 2\n"), std::string::npos);
  editor_settings() = EditorSettings();
}

}  // namespace
