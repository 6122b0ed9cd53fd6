#include "app/tools/tool_job.h"

#include <cmath>

#include "platform/services.h"

namespace {
std::atomic<int> g_live{0};

ProgressViewFactory& installed_views() {
  static ProgressViewFactory f = [](const ProgressViewSpec& spec, JobProgressView::Report report) {
    return std::make_unique<ProgressStandIn>(spec, std::move(report));
  };
  return f;
}
}  // namespace

void install_tool_progress_views(ProgressViewFactory factory) {
  if (factory) installed_views() = std::move(factory);
}

const ProgressViewFactory& tool_progress_views() { return installed_views(); }

ProgressStandIn::ProgressStandIn(const ProgressViewSpec& spec, Report report)
    : spec_(spec), report_(std::move(report)), percent_(spec.percent) {}

void ProgressStandIn::set_percent(int percent) {
  if (closed_) return;
  if (percent > percent_) percent_ = percent;
  if (percent >= 100) close_with(kProgressClosed);
}

std::string ProgressStandIn::job_text() const {
  const std::string name = spec_.job_name.empty() ? std::string("Saving") : spec_.job_name;
  return name + (paused_ ? " has been paused ......" : " is in progress ......");
}

void ProgressStandIn::press_pause() {
  if (closed_) return;
  paused_ = !paused_;
  if (report_) report_(kProgressPause);
}

void ProgressStandIn::press_stop() {
  if (closed_) return;
  const bool paused_here = !paused_;
  if (paused_here) press_pause();
  const PromptAnswer a = platform().prompter->message(PromptIcon::Question, PromptButtons::YesNoCancel,
                                                      kDeletePartialQuestion, kSaveProgressCaption);
  if (a == PromptAnswer::Yes) {
    close_with(kProgressStopDelete);
  } else if (a == PromptAnswer::No) {
    close_with(kProgressStopKeep);
  } else if (paused_here) {
    press_pause();
  }
}

void ProgressStandIn::press_close() {
  if (!closed_) close_with(kProgressClosed);
}

void ProgressStandIn::close_with(int code) {
  closed_ = true;
  // The report may destroy this view: nothing after it.
  if (report_) report_(code);
}

ToolJob::ToolJob(ProgressViewFactory views) : views_(std::move(views)) {}

ToolJob::~ToolJob() {
  if (!running()) return;
  on_end_ = nullptr;
  control_.set_command(JobCommand::close);
  thread_.join();
  --g_live;
}

int ToolJob::live_count() { return g_live.load(); }

bool ToolJob::start(Work work, const ProgressViewSpec& spec) {
  if (running() || !work) return false;
  control_.reset();
  returned_.store(false);
  spec_ = spec;
  shown_ = 0;
  view_gone_ = false;
  stopped_by_user_ = false;
  ++g_live;
  thread_ = std::thread([this, work = std::move(work)] {
    work(control_);
    returned_.store(true, std::memory_order_release);
  });
  return true;
}

void ToolJob::poll() {
  if (!running()) return;
  if (returned_.load(std::memory_order_acquire)) {
    end();
    return;
  }
  // Truncated toward zero: 99.99 shows 99; 100 waits for the thread.
  const int p = std::min(99, static_cast<int>(std::floor(control_.progress())));
  if (p > shown_) show(p);
  else if (!view_ && !view_gone_) show(shown_);
}

void ToolJob::show(int percent) {
  shown_ = percent;
  if (view_gone_) return;
  const ProgressViewFactory& make = views_ ? views_ : tool_progress_views();
  if (!view_ && make) {
    ProgressViewSpec spec = spec_;
    spec.percent = shown_;
    view_ = make(spec, [this](int code) { view_code(code); });
    if (!view_) {
      view_gone_ = true;
      return;
    }
  }
  if (view_) view_->set_percent(percent);
}

void ToolJob::view_code(int code) {
  if (code == kProgressPause) {
    if (view_ && view_->paused()) {
      control_.set_command(JobCommand::pause);
    } else {
      control_.set_command(JobCommand::run);
    }
    return;
  }
  view_gone_ = true;
  // A closing report is the view's last act: it may go now.
  view_.reset();
  if (!running()) return;
  if (code == kProgressStopDelete || code == kProgressStopKeep) {
    control_.set_command_word(code);
    stopped_by_user_ = true;
  } else if (control_.command() == JobCommand::pause) {
    control_.set_command(JobCommand::run);
  }
}

void ToolJob::stop_for_close() {
  if (!running()) return;
  view_gone_ = true;
  if (view_) {
    view_->finish();
    view_.reset();
  }
  control_.set_command(JobCommand::close);
}

void ToolJob::stop_and_join() {
  if (!running()) return;
  stop_for_close();
  thread_.join();
  end();
}

void ToolJob::end() {
  if (thread_.joinable()) thread_.join();
  --g_live;
  End e;
  const bool reached = control_.progress() >= 100.0;
  if (control_.finished()) {
    e.outcome = control_.outcome();
    e.result = control_.result();
    e.message = control_.message();
  }
  // A call that returned without reporting its end failed, whatever it says.
  if (!control_.finished() || (!reached && e.outcome == JobOutcome::done)) {
    e.outcome = JobOutcome::failed;
    if (e.message.empty()) e.message = "The job ended before it was complete.";
  }
  e.stopped_by_user = stopped_by_user_;
  // Taken first: a view closing at 100 reports back into view_code.
  view_gone_ = true;
  if (std::unique_ptr<JobProgressView> v = std::move(view_)) {
    v->set_percent(100);
    v->finish();
  }
  shown_ = 100;
  if (on_end_) on_end_(e);
}
