// The progress window's widgets offscreen: they show the model's texts,
// close 1.5 s after 100 % on a timer (the user-interface thread goes on
// meanwhile) and report the close once.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "platform/fakes.h"
#include "ui/shell/save_progress_window.h"

namespace {

TEST(SaveProgressWindow, ShowsModelAndClosesOnTimerAtHundred) {
  FakePlatform fakes;
  SaveProgressWidget::install();
  std::vector<int> codes;
  CSaveProgressDlg model(0, 0, nullptr, [&](void*, int code) {
    codes.push_back(code);
    return 0;
  });
  model.pausable = 1;
  model.set_file_name("/out/x.mpg");
  ASSERT_EQ(model.Create(), 1);
  QWidget* w = nullptr;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (top->objectName() == "d123" && top->isVisible()) w = top;
  ASSERT_TRUE(w);
  EXPECT_EQ(w->windowTitle(), "/out/x.mpg");
  EXPECT_EQ(w->findChild<QLabel*>("c1293")->text(), "Saving is in progress ......");

  model.SetPercent(40);
  EXPECT_EQ(w->findChild<QLabel*>("c1295")->text(), "40 %");
  EXPECT_EQ(w->findChild<QProgressBar*>("c1296")->value(), 40);
  QTest::mouseClick(w->findChild<QPushButton*>("c1294"), Qt::LeftButton);
  EXPECT_EQ(w->findChild<QPushButton*>("c1294")->text(), "Resume");
  EXPECT_EQ(w->findChild<QLabel*>("c1293")->text(), "Saving has been paused ......");

  // 100 %: back at once with the window still open; it closes later.
  model.SetPercent(100);
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(codes, std::vector<int>{kProgressPause});
  QTRY_COMPARE_WITH_TIMEOUT(codes.size(), size_t(2), 5000);
  EXPECT_EQ(codes.back(), kProgressClosed);
  EXPECT_FALSE(w->isVisible());
  set_save_progress_window_factory(nullptr);
}

}  // namespace
