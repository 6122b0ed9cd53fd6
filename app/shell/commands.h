// Commands: each id has a handler and an update rule (enabled, checked).
// A window keeps its commands in a CommandTarget; a command goes to the
// first target of a route that handles it (the active view, its frame,
// the main frame, the application), and one no target handles does
// nothing. Menu items, tool buttons and keys all run commands by id.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

struct CommandState {
  bool enabled = true;
  bool checked = false;
};

class CommandTarget {
 public:
  using Handler = std::function<void()>;
  using Update = std::function<CommandState()>;

  // Replaces any earlier handler of the id; without an update rule the
  // command is enabled and unchecked.
  void add(int id, Handler handler, Update update = {});
  void remove(int id);
  bool handles(int id) const;
  // Runs the handler; false when the id has none here.
  bool run(int id) const;
  // The update rule's answer; false when the id has none here.
  bool update(int id, CommandState* state) const;
  std::vector<int> ids() const;

 private:
  struct Entry {
    Handler handler;
    Update update;
  };
  std::map<int, Entry> entries_;
};

// A route: targets in the order a command tries them (null entries are
// skipped).
using CommandRoute = std::vector<const CommandTarget*>;
// true when a target ran the command.
bool route_command(const CommandRoute& route, int id);
// The state of the first target that handles the id; disabled when none.
CommandState route_update(const CommandRoute& route, int id);

// Object names the widgets carry: "a<id>" for a command's action, "c<id>"
// for a control.
std::string action_name(int id);
std::string control_name(int id);

// The tool command of a function key (F2 Multiplexer ... F7 GOP Fixer),
// 0 for other keys and when Ctrl, Shift and Alt are all held. Keys are
// virtual-key codes (F1 = 0x70).
int function_key_command(int vk, bool ctrl, bool shift, bool alt);
