#include "app/shell/tools.h"

#include <vector>

void ToolRegistry::add(int id, Factory factory, ToolRerun rerun) {
  Tool& t = tools_[id];
  t.factory = std::move(factory);
  t.rerun = rerun;
}

bool ToolRegistry::has_factory(int id) const {
  const auto it = tools_.find(id);
  return it != tools_.end() && it->second.factory;
}

bool ToolRegistry::is_open(int id) const { return window(id) != nullptr; }

ToolWindow* ToolRegistry::window(int id) const {
  const auto it = tools_.find(id);
  return it == tools_.end() ? nullptr : it->second.open;
}

bool ToolRegistry::run(int id) {
  const auto it = tools_.find(id);
  if (it == tools_.end() || !it->second.factory) return false;
  Tool& t = it->second;
  if (t.open) {
    if (t.rerun == ToolRerun::CloseAlways || (t.rerun == ToolRerun::CloseUnlessBusy && !t.open->is_busy()))
      t.open->close();
    return false;
  }
  const int generation = ++t.generation;
  ToolWindow* w = t.factory([this, id, generation] {
    const auto i = tools_.find(id);
    if (i != tools_.end() && i->second.generation == generation) {
      i->second.open = nullptr;
      i->second.closed = generation;
    }
  });
  // The window may have closed itself already while being made.
  if (w && t.closed != generation) t.open = w;
  return w != nullptr;
}

bool ToolRegistry::enabled(int id) const { return has_factory(id) && !is_open(id); }

void ToolRegistry::close_all() {
  std::vector<ToolWindow*> open;
  for (auto& [id, t] : tools_)
    if (t.open) open.push_back(t.open);
  for (ToolWindow* w : open) w->close();
}
