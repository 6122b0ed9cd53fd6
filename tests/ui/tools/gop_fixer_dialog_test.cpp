// The GOP Fixer window offscreen: caption, buttons per state, the options
// locked while a scan runs, and the scan's result line.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "platform/fakes.h"
#include "named_child.h"
#include "support.h"
#include "ui/tools/gop_fixer_dialog.h"

namespace {

using namespace tsupport;

TEST(GopFixerDialog, ScanThroughTheWindow) {
  TSUPPORT_NEED_FIXTURES("fix_ab.m2v");
  FakePlatform fake;
  bool closed = false;
  auto* d = new GopFixerDialog([&] { closed = true; });
  d->show();
  EXPECT_EQ(d->windowTitle(), QStringLiteral(" MPEG Video GOP Fixer "));
  EXPECT_FALSE(child<QPushButton>(d, "go")->isEnabled());
  EXPECT_FALSE(child<QPushButton>(d, "pause")->isEnabled());
  ASSERT_TRUE(d->open_input(fixture("fix_ab.m2v")));
  ASSERT_TRUE(child<QPushButton>(d, "go")->isEnabled());
  EXPECT_EQ(child<QPushButton>(d, "go")->text(), QStringLiteral("Scan"));
  QTest::mouseClick(child<QPushButton>(d, "go"), Qt::LeftButton);
  ASSERT_TRUE(d->is_busy());
  d->model().job().control().pause();
  EXPECT_TRUE(child<QPushButton>(d, "pause")->isEnabled());
  EXPECT_TRUE(child<QPushButton>(d, "abort")->isEnabled());
  for (const char* off : {"go", "close", "input_browse", "output_browse"})
    EXPECT_FALSE(child<QPushButton>(d, off)->isEnabled()) << off;
  for (const char* off : {"mode_0", "mode_1", "mode_3"}) EXPECT_FALSE(child<QRadioButton>(d, off)->isEnabled()) << off;
  d->model().job().control().resume();
  while (d->is_busy()) {
    d->tick();
    QTest::qWait(2);
  }
  EXPECT_TRUE(child<QLabel>(d, "status")->text().startsWith(QStringLiteral("Errors Found: (1) = ")))
      << child<QLabel>(d, "status")->text().toStdString();
  EXPECT_EQ(child<QPushButton>(d, "go")->text(), QStringLiteral("Fix"));
  d->close();
  EXPECT_TRUE(closed);
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace
