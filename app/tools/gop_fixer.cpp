#include "app/tools/gop_fixer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/shell/file_utils.h"
#include "app/tools/tool_text.h"
#include "engine/clips/clip_list.h"
#include "engine/clips/cliplist_file.h"
#include "engine/tool_facades.h"
#include "platform/services.h"
#include "mux/es.h"
#include "record/save_request.h"

namespace {

const char* const kModeButtons[4] = {"Scan", "Fix", "Resize", "Go"};

std::string trimmed(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return {};
  const size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

}  // namespace

std::string gop_options_text(const GopFixOptions& o) {
  std::ostringstream t;
  t << "#\n# Fix GOP Time Code Options:\n#\n";
  t << "Initial Window " << o.x << " " << o.y << " \n";
  t << "Default Load NAME " << o.load_name << " \n";
  t << "Default Load Path " << o.load_path << " \n";
  t << "Default Save NAME " << o.save_name << " \n";
  t << "Default Save Path " << o.save_path << " \n";
  t << "Read Write Flag " << o.mode << " \n\n";
  return t.str();
}

GopFixOptions gop_options_parse(const std::string& text) {
  GopFixOptions o;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() > 1023) line.resize(1023);
    if (line.rfind("#", 0) == 0 || line.rfind("//", 0) == 0) continue;
    auto value = [&line](const char* key, std::string* rest) {
      if (line.compare(0, std::strlen(key), key) != 0) return false;
      *rest = line.substr(std::strlen(key));
      return true;
    };
    std::string v;
    if (value("Initial Window", &v)) std::sscanf(v.c_str(), " %d %d ", &o.x, &o.y);
    else if (value("Default Load NAME", &v)) o.load_name = trimmed(v);
    else if (value("Default Load Path", &v)) o.load_path = trimmed(v);
    else if (value("Default Save NAME", &v)) o.save_name = trimmed(v);
    else if (value("Default Save Path", &v)) o.save_path = trimmed(v);
    else if (value("Read Write Flag", &v)) std::sscanf(v.c_str(), " %d ", &o.mode);
  }
  return o;
}

std::string gop_options_path() {
  const std::string folder = platform().paths->config_folder();
  return folder.empty() ? std::string() : folder + "/fix_gop.cfg";
}

GopFixerTool::GopFixerTool() : fixer_(std::make_unique<GopFixerFacade>()) {
  fixer_->create();
  const std::string path = gop_options_path();
  std::ifstream f(path);
  if (f) {
    std::stringstream s;
    s << f.rdbuf();
    options_ = gop_options_parse(s.str());
  }
  job_.set_on_end([this](const ToolJob::End& e) { ended(e); });
}

GopFixerTool::~GopFixerTool() {
  on_changed = nullptr;
  job_.stop_and_join();
}

void GopFixerTool::save_options() const {
  GopFixOptions o = options_;
  o.load_name = input_;
  o.load_path = split_path(input_);
  o.save_name = output_;
  o.save_path = split_path(output_);
  o.mode = mode_;
  const std::string path = gop_options_path();
  if (path.empty()) return;
  std::ofstream f(path, std::ios::trunc);
  f << gop_options_text(o);
}

bool GopFixerTool::open_input(const std::string& name) {
  if (busy()) return false;
  auto fresh = std::make_unique<GopFixerFacade>();
  fresh->create();
  if (name.empty() || fresh->init(name.c_str()) != 0) {
    platform().prompter->message(PromptIcon::None, PromptButtons::Ok, text_with_name("<%s>: cannot open to read", name));
    return false;
  }
  fixer_ = std::move(fresh);
  std::fill(std::begin(found_), std::end(found_), 0);
  std::fill(std::begin(fixed_), std::end(fixed_), 0);
  running_ = -1;
  dvd_ = fixer_->is_dvd_video() != 0;
  read_only_ = fixer_->get_state() != 0;
  input_ = name;
  if (same_file(output_, input_)) output_.clear();
  fix_done_ = read_only_ && output_.empty();
  scanned_ = false;
  fixed_copy_ = false;
  // Only DVD video is held to the DVD's GOP sizes.
  resize_done_ = !dvd_;
  stopped_ = false;
  if (mode_ != 3) mode_ = 0;
  char t[64];
  std::snprintf(t, sizeof t, ": %10.6f MB", double(fixer_->get_file_size()) / 1e6);
  status_ = "<" + name + ">" + t;
  return true;
}

bool GopFixerTool::set_output(const std::string& name) {
  if (busy()) return false;
  std::string full;
  if (!get_full_path(name, &full)) return false;
  if (!input_.empty() && same_file(full, input_)) {
    platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok,
                                 text_with_name("<%s>: is the input file and cannot be an output", full));
    return false;
  }
  if (check_file_sharing(full) != 0) return false;
  output_ = full;
  fixed_copy_ = false;
  if (read_only_ && scanned_ && found_[1] + found_[2] > 0) fix_done_ = false;
  // A new output may take the resize again.
  resize_done_ = !dvd_ || (scanned_ && found_[3] == 0);
  move_mode();
  return true;
}

std::string GopFixerTool::title() const {
  return read_only_ ? " MPEG Video GOP Fixer:  <" + split_path(input_) + "> is Read-Only" : kGopFixerCaption;
}

bool GopFixerTool::mode_enabled(int mode) const {
  if (busy()) return false;
  switch (mode) {
    case 0: return !scanned_;
    case 1: return input_.empty() || (scanned_ && found_[1] + found_[2] > 0 && !fix_done_ && (!read_only_ || !output_.empty()));
    case 2: return scanned_ && found_[3] > 0 && !resize_done_ && mode_ != 3;
    case 3: return !everything_done();
    default: return false;
  }
}

void GopFixerTool::set_mode(int mode) {
  if (!busy() && mode >= 0 && mode <= 3 && mode_enabled(mode)) mode_ = mode;
}

std::string GopFixerTool::button_text() const { return everything_done() ? "Done" : kModeButtons[mode_]; }

bool GopFixerTool::button_enabled() const {
  return !busy() && !input_.empty() && !everything_done() && (mode_ != 2 || !output_.empty());
}

bool GopFixerTool::run() {
  if (!button_enabled()) return false;
  int kind = mode_;
  if (mode_ == 3) kind = !scanned_ ? 0 : !fix_done_ ? 1 : 2;
  if (kind == 1 && (fix_done_ || !scanned_)) return false;
  if (kind == 2) return !resize_done_ && !output_.empty() && start_resize();
  start(kind);
  return true;
}

bool GopFixerTool::start_resize() {
  // The fixed copy is the one to resize; the save writes beside it and
  // replaces it only when done.
  const std::string source = fixed_copy_ ? output_ : input_;
  MPEG_Clip* clip = mpeg_clip_of_file(source.c_str(), 0, 0);
  if (!clip) {
    platform().prompter->message(PromptIcon::None, PromptButtons::Ok, text_with_name("<%s>: cannot open to read", source));
    return false;
  }
  int code = clip->clip_type;
  const bool svcd = code == MUX_SVCD;
  if (svcd) code = MUX_MPEG2_PROGRAM;
  // The input's own kind: a DVD title keeps its navigation packs.
  const OutputKind kind = output_kind_of_code(code, svcd, dvd_).value_or(OutputKind::es);
  std::shared_ptr<MPEG_Clip> list(clip, [](MPEG_Clip* c) { mpeg_clip_list_free(c); });
  // The copy cannot be written while it is read: the resize goes beside it
  // and takes its place once complete.
  resize_temp_.clear();
  if (fixed_copy_) {
    for (int n = 0; resize_temp_.empty() || std::filesystem::exists(resize_temp_); ++n)
      resize_temp_ = output_ + ".resize" + (n ? std::to_string(n) : std::string());
  }
  const std::string out = resize_temp_.empty() ? output_ : resize_temp_;
  running_ = 2;
  stopped_ = false;
  paused_ = false;
  return job_.start(
      [list, kind, out](JobControl& c) {
        SaveRequest request;
        request.kind = kind;
        request.output = out;
        request.clips = list.get();
        request.options.restructure = 1;
        if (kind != OutputKind::es) save_request_take_audio(&request);
        request.control = &c;
        save_run(request);
      },
      {"GOP Restructure", output_, double(fixer_->get_file_size()), 0});
}

void GopFixerTool::move_mode() {
  if (busy() || !scanned_) return;
  if (mode_ == 0 && found_[1] + found_[2] > 0 && !fix_done_) mode_ = 1;
  if (mode_enabled(2) && (mode_ == 0 || (mode_ == 1 && fix_done_))) mode_ = 2;
  if (mode_ == 2 && resize_done_) mode_ = 0;
}

void GopFixerTool::start(int kind) {
  running_ = kind;
  stopped_ = false;
  paused_ = false;
  GopFixerFacade* f = fixer_.get();
  if (kind == 0) {
    job_.start(
        [f](JobControl& c) {
          const double size = std::max<double>(1.0, double(f->get_file_size()));
          bool failed = false;
          while (!c.checkpoint()) {
            const int n = f->scan();
            if (n < 0) failed = true;
            if (n <= 0) break;
            c.set_progress(std::min(99.9, double(f->get_position()) * 100.0 / size));
          }
          const bool stopped = c.stop_requested();
          c.set_progress(100.0);
          c.finish(failed ? JobOutcome::failed : stopped ? JobOutcome::stopped : JobOutcome::done);
        },
        {"Scanning", input_, 0, 0});
    return;
  }
  const std::string out = output_;
  const int total = found_[1] + found_[2];
  job_.start(
      [f, out, total](JobControl& c) {
        if (!out.empty()) f->set_out_fname(out.c_str());
        bool failed = false;
        int last = -1;
        while (!c.checkpoint()) {
          const int k = f->fix();
          if (k < 0) failed = true;
          if (k < 0 || k >= total || k == last) break;
          last = k;
          c.set_progress(std::min(99.9, total > 0 ? k * 100.0 / total : 99.9));
        }
        // The copy (or the in-place end) is complete only once closed.
        if (f->close() != 0) failed = true;
        const bool stopped = c.stop_requested();
        c.set_progress(100.0);
        c.finish(failed ? JobOutcome::failed : stopped ? JobOutcome::stopped : JobOutcome::done);
      },
      {"Fixing", out.empty() ? input_ : out, 0, 0});
}

std::string GopFixerTool::progress_status() const {
  if (running_ != 2 || !busy()) return status_;
  const double size = double(fixer_->get_file_size()), pct = job_.shown_percent();
  char t[128];
  std::snprintf(t, sizeof t, "Fixing Errors (3) resize GOP:  %.1f%% = %.3f / %.3f MB", pct, pct * size / 100000000.0,
                size / 1000000.0);
  return t;
}

void GopFixerTool::pause() {
  if (!busy()) return;
  paused_ = !paused_;
  if (paused_) job_.control().pause();
  else job_.control().resume();
}

void GopFixerTool::abort() {
  if (!busy()) return;
  if (running_ == 2) {
    // The partial output is the user's to keep or delete; the save waits
    // paused while asked.
    const bool was_paused = paused_;
    job_.control().pause();
    const PromptAnswer a = platform().prompter->message(PromptIcon::Question, PromptButtons::YesNoCancel,
                                                        kDeletePartialQuestion, "GOP Restructure Progress");
    if (a == PromptAnswer::Cancel) {
      if (!was_paused) job_.control().resume();
      return;
    }
    paused_ = false;
    stopped_ = true;
    job_.control().set_command(a == PromptAnswer::Yes ? JobCommand::stop_delete : JobCommand::stop_keep);
    return;
  }
  paused_ = false;
  stopped_ = true;
  job_.control().set_command(JobCommand::stop_keep);
}

void GopFixerTool::ended(const ToolJob::End& e) {
  const char* suffix = stopped_ ? " (Aborted)" : "";
  char t[256];
  if (running_ == 2) {
    JobOutcome outcome = e.outcome;
    std::string message = e.message;
    if (!resize_temp_.empty()) {
      std::error_code ec;
      if (outcome == JobOutcome::done && !stopped_) {
        std::filesystem::rename(resize_temp_, output_, ec);
        if (ec) {
          outcome = JobOutcome::failed;
          message = "<" + output_ + ">: cannot be replaced";
        }
      }
      // A stopped or failed resize leaves the fixed copy as it was.
      std::filesystem::remove(resize_temp_, ec);
      resize_temp_.clear();
    }
    if (outcome == JobOutcome::failed)
      status_ = "Fixing Errors: (3) resize GOP has failed" + (message.empty() ? std::string() : ": " + message);
    else
      status_ = stopped_ ? "Fixing Errors: (3) resize GOP has aborted" : "Fixing Errors: (3) resize GOP has completed";
    if (!stopped_ && outcome == JobOutcome::done) resize_done_ = true;
    running_ = -1;
    paused_ = false;
    stopped_ = false;
    move_mode();
    if (on_changed) on_changed();
    return;
  }
  if (e.outcome == JobOutcome::failed) {
    status_ = std::string(running_ == 0 ? "Scan" : "Fix") + " has failed" + (e.message.empty() ? "" : ": " + e.message);
  } else if (running_ == 0) {
    found_[1] = fixer_->get_error_count();
    found_[2] = fixer_->get_ts_counter_1();
    found_[3] = fixer_->get_second_error_count();
    if (found_[1] + found_[2] + found_[3] > 0) {
      if (found_[1] + found_[2] == 0) fix_done_ = true;
      std::snprintf(t, sizeof t, "Errors Found%s: (1) = %d, (2) = %d, (3) = %d", suffix, found_[1], found_[2], found_[3]);
      // A read-only input may have become writable meanwhile.
      auto retest = [this] {
        if (read_only_ && fixer_->recheck_state() == 0) {
          read_only_ = false;
          fix_done_ = found_[1] + found_[2] == 0;
        }
      };
      retest();
      if (read_only_ && !stopped_ && found_[1] + found_[2] >= 1 && output_.empty() &&
          platform().prompter->message(PromptIcon::Stop, PromptButtons::YesNo,
                                       text_with_name("\nFile <%s> is Read-Only.\t\n\nIn order to fix the errors, the "
                                                      "software needs\t\nto change the file attribute to Read + "
                                                      "Write.\t\n\nWould you like to make this change?\n\n",
                                                      input_)) == PromptAnswer::Yes) {
        std::error_code ec;
        std::filesystem::permissions(input_, std::filesystem::perms::owner_write, std::filesystem::perm_options::add,
                                     ec);
        if (ec)
          platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok,
                                       text_with_name("\nERROR:\nFile <%s> cannot be written\t\n\n", input_));
        else
          retest();
      }
    } else {
      fix_done_ = true;
      std::snprintf(t, sizeof t, "Scan%s: no error found", suffix);
    }
    status_ = t;
    if (!stopped_) {
      scanned_ = true;
      // The video's format is known once the scan has read it.
      dvd_ = fixer_->is_dvd_video() != 0;
      resize_done_ = !dvd_ || found_[3] == 0;
    }
  } else {
    fixed_[1] = fixer_->get_error_fix_count();
    fixed_[2] = fixer_->get_ts_counter_2();
    if (found_[1] && found_[2])
      std::snprintf(t, sizeof t, "Errors Fixed%s: (1) = %d / %d, (2) = %d / %d", suffix, fixed_[1], found_[1], fixed_[2],
                    found_[2]);
    else if (found_[1])
      std::snprintf(t, sizeof t, "Errors Fixed%s: (1) = %d / %d", suffix, fixed_[1], found_[1]);
    else
      std::snprintf(t, sizeof t, "Errors Fixed%s: (2) = %d / %d", suffix, fixed_[2], found_[2]);
    status_ = t;
    if (!stopped_ && e.outcome == JobOutcome::done) {
      fix_done_ = true;
      fixed_copy_ = !output_.empty();
    }
  }
  // Mode 3 goes on: the fix after a scan that found (1) or (2), the resize
  // once nothing is left to fix and an output is named. An aborted or
  // failed step ends the chain: nothing is written against the stop.
  int next = -1;
  if (mode_ == 3 && !stopped_ && e.outcome == JobOutcome::done) {
    if (running_ == 0 && !fix_done_) next = 1;
    else if (fix_done_ && !resize_done_ && !output_.empty()) next = 2;
  }
  running_ = -1;
  paused_ = false;
  stopped_ = false;
  move_mode();
  if (next == 1) start(1);
  else if (next == 2) start_resize();
  if (on_changed) on_changed();
}

bool GopFixerTool::close() {
  if (!busy()) {
    save_options();
    return true;
  }
  if (platform().prompter->message(PromptIcon::None, PromptButtons::OkCancel, kStopCurrentProcess) != PromptAnswer::Ok)
    return false;
  on_changed = nullptr;
  job_.stop_and_join();
  save_options();
  return true;
}
