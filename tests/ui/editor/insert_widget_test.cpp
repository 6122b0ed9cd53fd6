// The editor window's Insert command offscreen on the real engine: key B
// opens the modal Insert dialog in video mode, a typed file is opened as a
// movie, and OK inserts the chosen seconds after the current frame.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/editor/player_view.h"
#include "app/shell/clip_drag.h"
#include "app/shell/editor_settings.h"
#include "app/shell/mpeg_editor_adapter.h"
#include "platform/fakes.h"
#include "support.h"
#include "ui/audio/insert_dialog.h"
#include "ui/editor/player_pane.h"

namespace {

// Drives the modal Insert dialog once it is up and active (Apply acts
// from its focused button); the command may first wait for the playback
// thread. The dialog is closed when the step leaves it open.
class InsertDialogDriver {
 public:
  explicit InsertDialogDriver(std::function<void(CAudioInsertDlg*)> step) : step_(std::move(step)) {
    poll_.setInterval(20);
    QObject::connect(&poll_, &QTimer::timeout, [this] {
      auto* dlg = qobject_cast<CAudioInsertDlg*>(QApplication::activeModalWidget());
      if (!dlg || QApplication::activeWindow() != dlg) {
        if (++tries_ > 500) poll_.stop();
        return;
      }
      poll_.stop();
      step_(dlg);
      if (dlg->isVisible()) dlg->close();
    });
    poll_.start();
  }

 private:
  std::function<void(CAudioInsertDlg*)> step_;
  QTimer poll_;
  int tries_ = 0;
};

void press_ok(CAudioInsertDlg* dlg) {
  auto* ok = dlg->findChild<QPushButton*>("c1364");
  ok->setFocus();
  QTest::mouseClick(ok, Qt::LeftButton);
}

TEST(EditorInsertDialog, KeyBOpensTheVideoDialogAndOkInsertsTheTypedFile) {
  TSUPPORT_NEED_FIXTURES("ui.mpg");
  FakePlatform fake;
  const std::string movie = tsupport::fixture("ui.mpg");
  std::unique_ptr<IEditor> editor = MpegEditorAdapter::open(movie, 0);
  ASSERT_TRUE(editor);
  editor->set_bmp_depth(24);
  auto pane = std::make_unique<PlayerPane>(nullptr);
  ASSERT_EQ(pane->model()->attach_editor(editor.get(), 1), 1);
  pane->show();
  QApplication::setActiveWindow(pane.get());
  pane->view()->setFocus();
  ASSERT_TRUE(QTest::qWaitForWindowActive(pane.get()));
  pane->model()->post_command(kCodeGoto, 100);

  QString title;
  double input = 0;
  int offered = 0;
  InsertDialogDriver driver([&](CAudioInsertDlg* dlg) {
    title = dlg->windowTitle();
    auto* file = dlg->findChild<QLineEdit*>("c1370");
    file->setFocus();
    QTest::keyClicks(file, QString::fromStdString(movie));
    input = dlg->working().input_length;
    offered = dlg->operator_count();
    auto* length = dlg->findChild<QLineEdit*>("c1373");
    length->setFocus();
    length->selectAll();
    QTest::keyClicks(length, QStringLiteral("2"));
    press_ok(dlg);
  });
  QTest::keyClick(pane->view(), Qt::Key_B);
  for (int i = 0; i < 500 && title.isEmpty(); ++i) QTest::qWait(20);
  EXPECT_EQ(title, " MPEG-Tamsel: Insert ");
  EXPECT_NEAR(input, 10.0, 0.05);
  EXPECT_EQ(offered, int(insert_operators(InsertMode::video).size()) - 4);
  EXPECT_TRUE(fake.prompter.shown.empty()) << fake.prompter.last_text();
  EXPECT_EQ(pane->model()->total_frames.load(), 300);
  EXPECT_EQ(pane->model()->mark_in.load(), 101);
  EXPECT_EQ(pane->model()->undo_history().count(), 1);
  pane.reset();
  editor.reset();
}

TEST(EditorInsertDialog, ClipDroppedOnThePictureIsInsertedWhole) {
  TSUPPORT_NEED_FIXTURES("ui.mpg");
  FakePlatform fake;
  editor_settings().program_folder = tsupport::test_dir();
  const std::string movie = tsupport::fixture("ui.mpg");
  std::unique_ptr<IEditor> editor = MpegEditorAdapter::open(movie, 0);
  ASSERT_TRUE(editor);
  std::unique_ptr<EClip> piece = editor->frame_copy(0, 30);
  ASSERT_TRUE(piece);
  PlayerPane::set_clip_resolver([&](const std::string& drag) {
    return drag == "row 7" ? std::make_unique<EClip>(*piece) : std::unique_ptr<EClip>();
  });
  auto pane = std::make_unique<PlayerPane>(nullptr);
  ASSERT_EQ(pane->model()->attach_editor(editor.get(), 1), 1);
  pane->show();
  QApplication::setActiveWindow(pane.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(pane.get()));

  bool locked = false;
  std::unique_ptr<InsertDialogDriver> driver;
  auto drop = [&](const char* drag) {
    QMimeData data;
    data.setData(QLatin1String(kClipDragMimeType), QByteArray(drag));
    // Qt delivers a drop to the widget that took the drag's entry.
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(pane->view(), &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(pane->view(), &event);
    return event.isAccepted();
  };
  // A drag of no row of this program's lists is refused.
  EXPECT_FALSE(drop("row 3"));
  EXPECT_EQ(pane->model()->total_frames.load(), 250);
  driver = std::make_unique<InsertDialogDriver>([&](CAudioInsertDlg* dlg) {
    locked = !dlg->findChild<QLineEdit*>("c1370")->isEnabled();
    press_ok(dlg);
  });
  EXPECT_TRUE(drop("row 7"));
  for (int i = 0; i < 500 && pane->model()->total_frames.load() == 250; ++i) QTest::qWait(20);
  EXPECT_TRUE(locked);
  EXPECT_TRUE(fake.prompter.shown.empty()) << fake.prompter.last_text();
  EXPECT_EQ(pane->model()->total_frames.load(), 280);
  PlayerPane::set_clip_resolver(nullptr);
  pane.reset();
  editor.reset();
  editor_settings() = EditorSettings();
}

}  // namespace
