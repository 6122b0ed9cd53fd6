#include "app/shell/key_mapping.h"

#include <gtest/gtest.h>

#include "platform/fakes.h"

namespace {

EditorSettings defaults() {
  EditorSettings s;
  s.set_default_key_map();
  return s;
}

TEST(KeyMapping, KeysAreLettersOrDigitsOfOneCommandEach) {
  FakePlatform fp;
  KeyMappingModel m(defaults());
  EXPECT_EQ(m.key_text(int(KeyCommand::Undo)), "U");
  EXPECT_EQ(m.key_text(int(KeyCommand::FileInformation)), "0");
  struct Case {
    KeyCommand command;
    char typed;
    bool taken;
    const char* shown;
  } cases[] = {
      {KeyCommand::Undo, 'g', true, "G"},        // lower case reads as the capital
      {KeyCommand::Undo, '7', true, "7"},
      {KeyCommand::Redo, 'd', false, "N"},       // Play Forward's
      {KeyCommand::Copy, 'C', true, "C"},        // its own key again
      {KeyCommand::Cut, ' ', false, "X"},
      {KeyCommand::Cut, '[', false, "X"},
      {KeyCommand::GotoMarkIn, 'U', true, "U"},  // freed by Undo above
  };
  for (const Case& c : cases) {
    EXPECT_EQ(m.set_key(int(c.command), c.typed), c.taken) << c.typed;
    EXPECT_EQ(m.key_text(int(c.command)), c.shown) << c.typed;
  }
  EXPECT_EQ(fp.prompter.texts(), std::vector<std::string>{"<D>: already the key of \"Play Forward\""});
  EXPECT_EQ(m.edited().key(KeyCommand::Undo), '7');
  EXPECT_FALSE(m.set_key(0, 'Q'));
  EXPECT_FALSE(m.set_key(kKeyCount + 1, 'Q'));
}

TEST(KeyMapping, DroppingChangesIsAskedOnlyWhenThereAreSome) {
  FakePlatform fp;
  KeyMappingModel m(defaults());
  EXPECT_TRUE(m.may_discard());
  EXPECT_TRUE(fp.prompter.shown.empty());
  m.set_key(int(KeyCommand::Snapshot), 'G');
  ASSERT_TRUE(m.changed());
  fp.prompter.answers = {PromptAnswer::No, PromptAnswer::Yes};
  EXPECT_FALSE(m.may_discard());
  EXPECT_TRUE(m.may_discard());
  EXPECT_EQ(fp.prompter.last_text(), "Discard the changes?");
  EXPECT_EQ(fp.prompter.shown.back().buttons, PromptButtons::YesNo);
}

}  // namespace
