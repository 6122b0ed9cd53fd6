// The key map edited from the Options sheet's Keyboard Controls page.
#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "platform/fakes.h"
#include "ui/shell/key_mapping_dialog.h"
#include "ui/shell/options_sheet.h"

namespace {

// Runs edit on the key map dialog once the sheet's button has opened it.
void with_key_map(OptionsSheet& sheet, std::function<void(KeyMappingDialog*)> edit) {
  bool seen = false;
  QTimer::singleShot(0, &sheet, [&] {
    auto* d = sheet.findChild<KeyMappingDialog*>();
    ASSERT_NE(d, nullptr);
    seen = true;
    edit(d);
  });
  sheet.findChild<QPushButton*>("c4_view")->click();
  EXPECT_TRUE(seen);
}

TEST(KeyMappingDialog, KeysEditedThereAreStoredWithTheSheet) {
  FakePlatform fp;
  EditorSettings s;
  s.set_default_key_map();
  for (bool ok : {false, true}) {
    OptionsSheet sheet(&s);
    sheet.show();
    with_key_map(sheet, [&](KeyMappingDialog* d) {
      auto* undo = d->findChild<QLineEdit*>(QStringLiteral("key%1").arg(int(KeyCommand::Undo)));
      auto* redo = d->findChild<QLineEdit*>(QStringLiteral("key%1").arg(int(KeyCommand::Redo)));
      QTest::keyClicks(undo, "g");
      QTest::keyClicks(redo, "a");  // Play Reverse's: refused
      EXPECT_EQ(undo->text(), "G");
      EXPECT_EQ(redo->text(), "N");
      // Escape with a change asks; No keeps the dialog open.
      fp.prompter.answers = {PromptAnswer::No};
      QTest::keyClick(d, Qt::Key_Escape);
      EXPECT_TRUE(d->isVisible());
      d->findChild<QPushButton*>()->click();
    });
    EXPECT_EQ(fp.prompter.texts(), (std::vector<std::string>{"<A>: already the key of \"Play Reverse\"",
                                                             "Discard the changes?"}));
    fp.prompter.shown.clear();
    EXPECT_EQ(s.key(KeyCommand::Undo), 'U');  // not yet: the page holds it
    auto* box = sheet.findChild<QDialogButtonBox*>();
    EXPECT_TRUE(box->button(QDialogButtonBox::Apply)->isEnabled());
    box->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
    EXPECT_EQ(s.key(KeyCommand::Undo), ok ? 'G' : 'U');
    EXPECT_EQ(s.key(KeyCommand::Redo), 'N');
  }
}

}  // namespace
