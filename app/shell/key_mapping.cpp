#include "app/shell/key_mapping.h"

#include <cctype>

#include "platform/services.h"

KeyMappingModel::KeyMappingModel(const EditorSettings& keys) {
  opened_.copy_key_map(keys);
  edited_.copy_key_map(keys);
}

std::string KeyMappingModel::key_text(int code) const {
  if (code < 1 || code > kKeyCount) return {};
  const int k = edited_.keys[code - 1];
  return k > 32 && k < 127 ? std::string(1, char(k)) : std::string();
}

bool KeyMappingModel::set_key(int code, char typed) {
  if (code < 1 || code > kKeyCount || !std::isalnum(static_cast<unsigned char>(typed))) return false;
  const int vk = std::toupper(static_cast<unsigned char>(typed));
  for (int other = 1; other <= kKeyCount; ++other) {
    if (other == code || edited_.keys[other - 1] != vk) continue;
    platform().prompter->message(PromptIcon::Exclamation, PromptButtons::Ok,
                                 "<" + std::string(1, char(vk)) + ">: already the key of \"" +
                                     key_command_label(other) + "\"");
    return false;
  }
  edited_.keys[code - 1] = vk;
  return true;
}

bool KeyMappingModel::may_discard() const {
  return !changed() || platform().prompter->message(PromptIcon::Question, PromptButtons::YesNo,
                                                     "Discard the changes?") == PromptAnswer::Yes;
}
