#include "engine/tool_facades.h"

#include "demux/gop_fixer.h"

GopFixerFacade::GopFixerFacade() = default;
GopFixerFacade::~GopFixerFacade() { destroy(); }

void GopFixerFacade::create() { fixer_ = std::make_unique<GopFixer>(); }

void GopFixerFacade::destroy() {
  if (fixer_) fixer_->cleanup();
  fixer_.reset();
}

int GopFixerFacade::init(const char* name) { return fixer_ && name ? fixer_->init(name) : 1; }
void GopFixerFacade::cleanup() {
  if (fixer_) fixer_->cleanup();
}
void GopFixerFacade::set_out_fname(const char* name) {
  if (fixer_) fixer_->set_out_fname(name);
}
int GopFixerFacade::scan() { return fixer_ ? fixer_->scan() : 0; }
int GopFixerFacade::fix() { return fixer_ ? fixer_->fix() : 0; }
int GopFixerFacade::is_done() const { return fixer_ ? (fixer_->fix_done() ? 1 : 0) : 1; }
int GopFixerFacade::close() { return fixer_ ? fixer_->close() : 0; }
int GopFixerFacade::get_error_count() const { return fixer_ ? fixer_->get_error_count() : 0; }
int GopFixerFacade::get_error_fix_count() const { return fixer_ ? fixer_->get_error_fix_count() : 0; }
int GopFixerFacade::get_long_gop_count() const { return fixer_ ? fixer_->get_long_gop_count() : 0; }
uint64_t GopFixerFacade::get_file_size() const { return fixer_ ? fixer_->get_file_size() : 0; }
uint64_t GopFixerFacade::get_position() const { return fixer_ ? fixer_->get_position() : 0; }
