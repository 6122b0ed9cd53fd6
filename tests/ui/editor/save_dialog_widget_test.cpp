// The Save dialog's widgets offscreen: focus in File Name, Save the
// default button and enabled by a typed name, the kind radios and range
// edits reaching the model.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include "fake_editor.h"
#include "app/tools/select_pid.h"
#include "platform/fakes.h"
#include "ui/editor/audio_encoder_setup_widget.h"
#include "ui/editor/save_dialog_widget.h"
#include "ui/editor/video_encoder_setup_widget.h"

namespace {

TEST(SaveDialogWidget, FocusDefaultButtonAndEdits) {
  FakePlatform fakes;
  FakeEditor editor(100, 64, 48, 25.0);
  EditorRecordData rec;
  rec.start = 10;
  rec.count = 20;
  rec.output_type = 6;
  rec.audio.has_audio = 1;
  CSaveDlg model(&rec, &editor);
  model.init();
  SaveDialogWidget w(&model);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  EXPECT_EQ(w.windowTitle(), "MPEG-Tamsel: Save");
  auto* name = w.findChild<QLineEdit*>("c1287");
  auto* save = w.findChild<QPushButton*>("c1");
  EXPECT_EQ(QApplication::focusWidget(), name);
  EXPECT_TRUE(save->isDefault());
  EXPECT_FALSE(save->isEnabled());
  QTest::keyClicks(name, "out");
  EXPECT_TRUE(save->isEnabled());

  auto* start = w.findChild<QLineEdit*>("c1299");
  EXPECT_EQ(start->text(), "0;10");
  start->setFocus();
  start->selectAll();
  QTest::keyClicks(start, "200");
  QTest::keyClick(start, Qt::Key_Tab);
  EXPECT_EQ(model.start(), 99);
  EXPECT_EQ(w.findChild<QLineEdit*>("c1280")->text(), "0;01");

  w.findChild<QRadioButton*>("kind6")->click();
  EXPECT_EQ(rec.output_type, 8);
  EXPECT_TRUE(w.findChild<QPushButton*>("c_select_pid")->isVisibleTo(&w));
}

// Select PID runs the convertor's Select PID dialog with its rules: a PID
// typed onto another's is moved off it.
TEST(SaveDialogWidget, SelectPidUsesTheConvertorsDialogRules) {
  FakePlatform fakes;
  FakeEditor editor(100, 64, 48, 25.0);
  EditorRecordData rec;
  rec.count = 20;
  rec.output_type = 8;
  rec.audio.has_audio = 1;
  rec.program_pid = 64;
  rec.video_pid = 32;
  rec.audio_pid = 33;
  CSaveDlg model(&rec, &editor);
  model.init();
  SaveDialogWidget w(&model);
  w.show();
  QString title;
  QTimer::singleShot(0, [&] {
    QWidget* d = QApplication::activeModalWidget();
    ASSERT_NE(d, nullptr);
    title = d->windowTitle();
    d->findChild<QLineEdit*>("video_pid")->setText("100");
    d->findChild<QLineEdit*>("audio_pid")->setText("100");  // on the video's
    static_cast<QDialog*>(d)->accept();
  });
  w.findChild<QPushButton*>("c_select_pid")->click();
  EXPECT_EQ(title, " MPEG-2 Transport Stream: Select PID");
  EXPECT_EQ(rec.video_pid, 100);
  EXPECT_EQ(rec.program_pid, 64);
  const TransportPids want = select_pid_accept({64, 32, 33}, "64", "100", "100");
  EXPECT_EQ(rec.audio_pid, want.audio);
  EXPECT_NE(rec.audio_pid, 100);
}

}  // namespace

namespace {

TEST(AudioEncoderSetupWidget, VcdButtonSetsTheLists) {
  AudioEncoderData a;
  a.has_audio = 1;
  a.layer = 1;
  a.sample_rate = 48000;
  a.bit_rate = 448000;
  a.channels = 1;
  CAudioEncoderSetupDlg model(&a);
  AudioEncoderSetupWidget w(&model);
  EXPECT_EQ(w.findChild<QComboBox*>("c1017")->currentText(), " 448 kbps ");
  EXPECT_FALSE(w.findChild<QRadioButton*>("c1023")->isEnabled());
  w.findChild<QPushButton*>("c1026")->click();
  EXPECT_EQ(w.findChild<QComboBox*>("c1025")->currentText(), " 44.1 kHz ");
  EXPECT_EQ(w.findChild<QComboBox*>("c1017")->currentText(), " 224 kbps ");
  EXPECT_TRUE(w.findChild<QRadioButton*>("c1027")->isChecked());
  EXPECT_TRUE(w.findChild<QRadioButton*>("c1022")->isChecked());
}

TEST(VideoEncoderSetupWidget, ControlsFollowTheModel) {
  VideoEncoderData v;
  v.mpeg2_format = 1;
  v.set_size(1920, 1080);
  v.frame_rate = 25;
  v.bit_rate = 15000000;
  v.fixed_mquant = 3;
  CVideoEncoderSetupDlg model(&v, 4);
  VideoEncoderSetupWidget w(&model);
  EXPECT_EQ(w.findChild<QSlider*>("c1101")->value(), 19);
  EXPECT_FALSE(w.findChild<QLineEdit*>("c1084")->isEnabled());
  EXPECT_FALSE(w.findChild<QCheckBox*>("c1106")->isEnabled());  // kept, not changeable
  EXPECT_TRUE(w.findChild<QCheckBox*>("c1103")->isEnabled());
  EXPECT_FALSE(w.findChild<QCheckBox*>("c1405")->isVisibleTo(&w));
  w.findChild<QCheckBox*>("c1108")->click();
  EXPECT_EQ(w.findChild<QLineEdit*>("c1107")->text(), "720");
  EXPECT_EQ(w.findChild<QLineEdit*>("c1091")->text(), "576");
  w.findChild<QCheckBox*>("c1104")->click();
  EXPECT_FALSE(w.findChild<QCheckBox*>("c1108")->isChecked());
  EXPECT_TRUE(w.findChild<QRadioButton*>("c1098")->isChecked());
  EXPECT_FALSE(w.findChild<QPushButton*>("c1403")->isEnabled());  // MPEG-1 has no field order
  w.findChild<QComboBox*>("c1100")->setCurrentIndex(3);
  emit w.findChild<QComboBox*>("c1100")->activated(3);
  EXPECT_EQ(w.findChild<QLineEdit*>("c1091")->text(), "240");
}

}  // namespace
