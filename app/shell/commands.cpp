#include "app/shell/commands.h"

#include "app/shell/command_ids.h"

void CommandTarget::add(int id, Handler handler, Update update) {
  entries_[id] = Entry{std::move(handler), std::move(update)};
}

void CommandTarget::remove(int id) { entries_.erase(id); }

bool CommandTarget::handles(int id) const { return entries_.count(id) != 0; }

bool CommandTarget::run(int id) const {
  const auto it = entries_.find(id);
  if (it == entries_.end()) return false;
  // A copy: the handler may replace itself (a window closing).
  const Handler h = it->second.handler;
  if (h) h();
  return true;
}

bool CommandTarget::update(int id, CommandState* state) const {
  const auto it = entries_.find(id);
  if (it == entries_.end()) return false;
  *state = it->second.update ? it->second.update() : CommandState{};
  return true;
}

std::vector<int> CommandTarget::ids() const {
  std::vector<int> out;
  for (const auto& [id, e] : entries_) out.push_back(id);
  return out;
}

bool route_command(const CommandRoute& route, int id) {
  for (const CommandTarget* t : route)
    if (t && t->run(id)) return true;
  return false;
}

CommandState route_update(const CommandRoute& route, int id) {
  CommandState s;
  for (const CommandTarget* t : route)
    if (t && t->update(id, &s)) return s;
  return CommandState{false, false};
}

std::string action_name(int id) { return "a" + std::to_string(id); }
std::string control_name(int id) { return "c" + std::to_string(id); }

int function_key_command(int vk, bool ctrl, bool shift, bool alt) {
  if (ctrl && shift && alt) return 0;
  switch (vk) {
    case 0x71:
      return cmd::kMultiplexer;
    case 0x72:
      return cmd::kDemultiplexer;
    case 0x73:
      return cmd::kStreamConvertor;
    case 0x74:
      return cmd::kBatchSave;
    case 0x75:
      return cmd::kVideoClipList;
    case 0x76:
      return cmd::kGopFixer;
    default:
      return 0;
  }
}
