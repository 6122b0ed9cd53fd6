// The Insert dialog offscreen: typed fields run the record's rules, Enter
// never applies, Apply acts from its focused button and clears the input,
// the strips draw the insertion and play lines where the arithmetic puts
// them, and video mode offers its own operators.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "audio/track/audio_editor.h"
#include "platform/fakes.h"
#include "support.h"
#include "ui/audio/insert_dialog.h"

namespace {

// Inputs of known length: "*.bmp" are stills.
InsertInputLoader fake_loader(double seconds) {
  return [seconds](const std::string& path, double* len, bool* still) {
    if (path.find("bad") != std::string::npos) return false;
    *len = seconds;
    *still = path.size() > 4 && path.substr(path.size() - 4) == ".bmp";
    return true;
  };
}

void type(QLineEdit* e, const char* text) {
  e->setFocus();
  e->selectAll();
  QTest::keyClicks(e, QString::fromLatin1(text));
}

QString shown(CAudioInsertDlg& d, const char* id) { return d.findChild<QLineEdit*>(id)->text(); }

// Columns of a strip's image holding a colour, in rows of the strip.
bool column_has(const QImage& img, int x, QRgb colour) {
  for (int y = 0; y < img.height(); ++y)
    if ((img.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) return true;
  return false;
}

struct AudioDialog : ::testing::Test {
  void open(double insertion = 20) {
    record.file_name = "in.mp2";
    if (record.track_length == 0) record.track_length = 60;
    record.insertion = insertion;
    record.play_position = insertion;
    dlg = new CAudioInsertDlg(&record, nullptr, InsertMode::audio);
    dlg->set_input_loader(fake_loader(10));
    dlg->set_action_callback([this](int code) {
      actions.push_back(code);
      applied.push_back(record);
    });
    dlg->set_close_callback([this](int code) { closes.push_back(code); });
    dlg->Create();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg));
  }
  void TearDown() override {
    if (dlg) delete dlg.data();
  }
  FakePlatform fake;
  InsertParams record;
  QPointer<CAudioInsertDlg> dlg;
  std::vector<int> actions, closes;
  std::vector<InsertParams> applied;
};

TEST_F(AudioDialog, TypedFieldsFollowTheRulesAndEnterDoesNotApply) {
  open();
  EXPECT_EQ(dlg->windowTitle(), " Sorvane: Insert ");
  EXPECT_EQ(shown(*dlg, "c1373"), " 10.0");
  EXPECT_TRUE(dlg->findChild<QLineEdit*>("c1374")->isReadOnly());
  QLineEdit* offset = dlg->findChild<QLineEdit*>("c1377");
  type(offset, "4");
  EXPECT_EQ(shown(*dlg, "c1373"), " 6.0");
  EXPECT_EQ(offset->text(), "4");
  QTest::keyClick(offset, Qt::Key_Return);
  QTest::keyClick(offset, Qt::Key_Enter);
  EXPECT_TRUE(actions.empty());
  // Text that is no number changes nothing.
  type(dlg->findChild<QLineEdit*>("c1373"), "x");
  EXPECT_DOUBLE_EQ(dlg->working().length, 6);
  type(offset, "12");
  EXPECT_EQ(offset->text(), " 0.0");
  EXPECT_EQ(shown(*dlg, "c1373"), " 10.0");
  // A click on Apply while an edit holds the focus does nothing either.
  auto* apply = dlg->findChild<QPushButton*>("c1364");
  type(offset, "2");
  emit apply->clicked();
  EXPECT_TRUE(actions.empty());

  // Apply from its button: the record gets the insert, the input goes.
  apply->setFocus();
  QTest::mouseClick(apply, Qt::LeftButton);
  ASSERT_EQ(actions, std::vector<int>{CAudioInsertDlg::kApply});
  EXPECT_EQ(applied[0].file_name, "in.mp2");
  EXPECT_DOUBLE_EQ(applied[0].offset, 2);
  EXPECT_DOUBLE_EQ(applied[0].length, 8);
  EXPECT_DOUBLE_EQ(applied[0].insertion, 20);
  EXPECT_EQ(shown(*dlg, "c1370"), "");
  EXPECT_EQ(shown(*dlg, "c1373"), " 0.0");
  EXPECT_EQ(shown(*dlg, "c1372"), " 20.0");
  EXPECT_FALSE(apply->isEnabled());

  // Nothing left to insert: "No selection".
  apply->setEnabled(true);
  apply->setFocus();
  QTest::mouseClick(apply, Qt::LeftButton);
  EXPECT_EQ(actions.size(), 1u);
  EXPECT_EQ(fake.prompter.last_text(), "No selection");

  // The timer follows the caller's play position by half seconds.
  record.play_position = 20.3;
  dlg->on_timer();
  EXPECT_DOUBLE_EQ(dlg->views().play_position(), 20);
  record.play_position = 31;
  dlg->on_timer();
  EXPECT_DOUBLE_EQ(dlg->views().play_position(), 31);

  QTest::keyClick(dlg, Qt::Key_Escape);
  EXPECT_EQ(closes, std::vector<int>{1});
  EXPECT_TRUE(QTest::qWaitFor([this] { return dlg.isNull(); }, 2000));
}

TEST_F(AudioDialog, BadInputKeepsThePreviousOne) {
  open();
  auto* browse = dlg->findChild<QPushButton*>("c1365");
  FileDialogResult r;
  r.accepted = true;
  r.paths = {"bad.mp2"};
  fake.dialogs.results.push_back(r);
  QTest::mouseClick(browse, Qt::LeftButton);
  EXPECT_EQ(fake.prompter.last_text(), "<bad.mp2>: NOT a valid audio input file");
  EXPECT_EQ(dlg->working().file_name, "in.mp2");
  EXPECT_DOUBLE_EQ(dlg->working().length, 10);
  QTest::mouseClick(dlg->findChild<QPushButton*>("c1371"), Qt::LeftButton);
  EXPECT_EQ(fake.help.pages, std::vector<std::string>{"help.chm::/htm/chap06-1.htm"});
}

TEST_F(AudioDialog, StripsDrawTheInsertionAndPlayLinesOverAlternatingClips) {
  TSUPPORT_NEED_FIXTURES("mp2_44100.mp2");
  EClip track;
  ASSERT_EQ(AudioEditor::load_project(tsupport::fixture("mp2_44100.mp2").c_str(), &track), 0);
  ASSERT_EQ(track.clips.size(), 1u);
  track.clips.push_back(track.clips[0]);
  track.clips.push_back(track.clips[0]);
  record.track_length = track.get_total_time();
  open(4);
  dlg->SetInputClip(track);
  ASSERT_EQ(dlg->bars().size(), 3u);
  const double total = track_bars_length(dlg->bars());
  EXPECT_NEAR(total, 3 * 2.5, 0.1);
  // A second of play after the point, which sits in the second clip.
  InsertParams& r = record;
  r.play_position = dlg->working().insertion + 1;
  dlg->on_timer();
  const QImage ins = dlg->insertion_view()->grab().toImage();
  const int xi = dlg->views().insertion_x(dlg->working().insertion);
  const int xp = dlg->views().insertion_x(r.play_position);
  ASSERT_NE(xi, xp);
  EXPECT_TRUE(column_has(ins, xi, qRgb(255, 0, 0)));
  EXPECT_TRUE(column_has(ins, xp, qRgb(255, 255, 255)));
  EXPECT_FALSE(column_has(ins, xp, qRgb(255, 0, 0)));
  // Green bars on two rows: the rows' base lines differ by a bar.
  const StripGeometry& g = dlg->views().insertion_geometry();
  const int y0 = g.row_y + 1, y1 = g.row_y + g.thickness + 1;
  const int x_first = g.margin + 2;
  EXPECT_EQ(ins.pixel(x_first, y0) & 0xFFFFFF, qRgb(0, 255, 0) & 0xFFFFFF);
  EXPECT_EQ(ins.pixel(x_first, y1) & 0xFFFFFF, 0u);
  const QImage over = dlg->overview()->grab().toImage();
  EXPECT_TRUE(column_has(over, dlg->views().overview_x(dlg->working().insertion), qRgb(255, 0, 0)));
  // Clip two's bar lies on the second row of the overview.
  const StripGeometry& o = dlg->views().overview_geometry();
  const int x_two = dlg->views().overview_x(total / 2);
  EXPECT_EQ(over.pixel(x_two, o.row_y + o.thickness + 1) & 0xFFFFFF, qRgb(0, 255, 0) & 0xFFFFFF);
}

TEST(InsertDialogVideo, OffersTransitionsForAMovieAndKeyingForAStill) {
  FakePlatform fake;
  const InsertOperators all = insert_operators(InsertMode::video);
  InsertParams record;
  record.track_length = 30;
  record.insertion = 10;
  {
    CAudioInsertDlg dlg(&record, nullptr, InsertMode::video);
    dlg.set_input_loader(fake_loader(8));
    dlg.OnInitDialog();
    EXPECT_EQ(dlg.windowTitle(), " MPEG-Tamsel: Insert ");
    EXPECT_EQ(dlg.findChild<QPushButton*>("c1364")->text(), "OK");
    EXPECT_EQ(dlg.findChild<QPushButton*>("c1366")->text(), "Cancel");
    EXPECT_FALSE(dlg.findChild<QPushButton*>("c1378")->isEnabled());
    EXPECT_FALSE(dlg.findChild<QPushButton*>("c1375")->isEnabled());
    EXPECT_EQ(dlg.findChild<QComboBox*>("c1369")->count(), int(all.size()));
  }
  record.file_name = "movie.mpg";
  {
    CAudioInsertDlg dlg(&record, nullptr, InsertMode::video);
    dlg.set_input_loader(fake_loader(8));
    dlg.OnInitDialog();
    EXPECT_EQ(dlg.operator_count(), int(all.size()) - 4);
    EXPECT_EQ(dlg.findChild<QComboBox*>("c1369")->count(), int(all.size()) - 4);
    EXPECT_EQ(dlg.findChild<QComboBox*>("c1368")->count(), int(all.size()) - 4);
    EXPECT_DOUBLE_EQ(dlg.working().length, 8);
  }
  record.file_name = "title.bmp";
  {
    CAudioInsertDlg dlg(&record, nullptr, InsertMode::video);
    dlg.set_input_loader(fake_loader(0.1));
    dlg.OnInitDialog();
    EXPECT_TRUE(dlg.still_image());
    EXPECT_TRUE(dlg.context().keying(dlg.working().start_operator));
    EXPECT_DOUBLE_EQ(dlg.working().start_length, 20);
    EXPECT_FALSE(dlg.findChild<QLineEdit*>("c1377")->isEnabled());
    EXPECT_TRUE(dlg.findChild<QPushButton*>("c1364")->isEnabled());
  }
}

}  // namespace
