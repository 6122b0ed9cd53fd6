// The Qt seams as a user meets them: the message box's caption, buttons
// and answer; the file dialog's filter names as the table writes them and
// the Snapshot's image formats; posts from another thread run on the GUI
// thread.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>
#include <atomic>
#include <thread>

#include "app/shell/file_utils.h"
#include "platform/qt_services.h"
#include "support.h"

namespace {

// Runs f on the modal dialog once it is up (polled from the event loop
// the dialog runs).
void when_modal(std::function<void(QDialog*)> f) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, f] {
    auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!d) return;
    timer->stop();
    timer->deleteLater();
    f(d);
  });
  timer->start(10);
}

QAbstractButton* button(QDialog* d, const QString& text) {
  for (auto* b : d->findChildren<QAbstractButton*>())
    if (b->text().remove('&') == text) return b;
  return nullptr;
}

TEST(QtSeams, MessageBoxCaptionTextAndAnswer) {
  QtPrompter prompter;
  QString title, text;
  bool had_yes = false;
  when_modal([&](QDialog* d) {
    title = d->windowTitle();
    for (auto* l : d->findChildren<QWidget*>())
      if (l->property("text").toString().contains("already exists")) text = l->property("text").toString();
    had_yes = button(d, "Yes") != nullptr;
    button(d, "No")->click();
  });
  const PromptAnswer a =
      prompter.message(PromptIcon::Information, PromptButtons::YesNo, "x.mpg already exists.\nDo you wnat to replace it?");
  EXPECT_EQ(a, PromptAnswer::No);
  EXPECT_EQ(title, "MPEG-Tamsel");
  EXPECT_EQ(text, "x.mpg already exists.\nDo you wnat to replace it?");
  EXPECT_TRUE(had_yes);
}

TEST(QtSeams, SnapshotDialogOffersImageFormats) {
  QtFileDialogs dialogs;
  const std::string dir = tsupport::test_dir();
  FileDialogRequest r;
  r.kind = FileDialogKind::SaveImage;
  r.title = "Save Image";
  r.folder = dir;
  r.filter = "Image File (*.jpg;*.bmp;*.mpv)|*.jpg;*.bmp;*.mpv|All (*.*)|*.*||";
  r.image_format = ImageFormat::Bitmap;
  QStringList labels, types;
  QString group;
  bool bitmap_checked = false;
  when_modal([&](QDialog* d) {
    if (auto* g = d->findChild<QGroupBox*>("image_format")) group = g->title();
    for (int i = 0; i < 3; ++i)
      if (auto* b = d->findChild<QRadioButton*>(QString("image_format_%1").arg(i))) labels << b->text();
    if (auto* b = d->findChild<QRadioButton*>("image_format_0")) bitmap_checked = b->isChecked();
    if (auto* combo = d->findChild<QComboBox*>("fileTypeCombo"))
      for (int i = 0; i < combo->count(); ++i) types << combo->itemText(i);
    d->findChild<QRadioButton*>("image_format_1")->click();
    d->findChild<QLineEdit*>("fileNameEdit")->setText("snap.jpg");
    QMetaObject::invokeMethod(d, "accept");
  });
  const FileDialogResult res = dialogs.run(r);
  EXPECT_EQ(group, "Image Format");
  EXPECT_EQ(labels, (QStringList{" Bitmap", " JPEG", " MPEG"}));
  EXPECT_TRUE(bitmap_checked);
  // The filter names read as the table writes them.
  EXPECT_EQ(types, (QStringList{"Image File (*.jpg;*.bmp;*.mpv)", "All (*.*)"}));
  ASSERT_TRUE(res.accepted);
  ASSERT_EQ(res.paths.size(), 1u);
  EXPECT_EQ(res.paths[0], dir + "/snap.jpg");
  EXPECT_EQ(res.image_format, ImageFormat::Jpeg);
}

TEST(QtSeams, OpenDialogCancelled) {
  QtFileDialogs dialogs;
  FileDialogRequest r;
  r.filter = file_filter_text(0);
  r.folder = tsupport::test_dir();
  QStringList types;
  when_modal([&](QDialog* d) {
    if (auto* combo = d->findChild<QComboBox*>("fileTypeCombo"))
      for (int i = 0; i < combo->count(); ++i) types << combo->itemText(i);
    d->reject();
  });
  EXPECT_FALSE(dialogs.run(r).accepted);
  ASSERT_EQ(types.size(), 5);
  EXPECT_EQ(types[3], "Segment Files (*.mbs)");
}

TEST(QtSeams, PostsRunOnTheGuiThread) {
  QtUiPost post;
  std::atomic<bool> ran{false};
  std::thread::id where;
  std::thread worker([&] { post.post([&] {
    where = std::this_thread::get_id();
    ran = true;
  }); });
  worker.join();
  for (int i = 0; i < 1000 && !ran; ++i) QApplication::processEvents(QEventLoop::AllEvents, 10);
  ASSERT_TRUE(ran);
  EXPECT_EQ(where, std::this_thread::get_id());
}

TEST(QtSeams, ScreenHasADepthAndSize) {
  QtScreenInfo screen;
  EXPECT_GT(screen.depth(), 0);
  EXPECT_GT(screen.width(), 0);
  EXPECT_GT(screen.height(), 0);
}

}  // namespace
