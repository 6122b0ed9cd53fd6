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

std::vector<ToolWindow*> ToolRegistry::busy_windows() const {
  std::vector<ToolWindow*> busy;
  for (const auto& [id, t] : tools_)
    if (t.open && t.open->is_busy()) busy.push_back(t.open);
  return busy;
}

bool ToolSet::open(const std::string& path) {
  if (!factory_) return false;
  const int serial = ++serial_;
  ToolWindow* w = factory_(path, [this, serial] {
    if (open_.erase(serial) == 0) closed_.insert(serial);
  });
  if (!w) return false;
  if (closed_.erase(serial) == 0) open_[serial] = w;
  return true;
}

std::vector<ToolWindow*> ToolSet::windows() const {
  std::vector<ToolWindow*> out;
  for (const auto& [serial, w] : open_) out.push_back(w);
  return out;
}

void ToolSet::close_all() {
  for (ToolWindow* w : windows()) w->close();
}
