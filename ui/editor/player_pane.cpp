#include "ui/editor/player_pane.h"

#include "ui/editor/save_dialog_widget.h"

#include <QActionGroup>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cstdlib>

#include "app/shell/editor_app.h"
#include "app/shell/editor_settings.h"
#include "app/shell/ieditor.h"
#include "app/shell/clip_drag.h"
#include "ui/audio/insert_dialog.h"
#include "ui/shell/dib_image.h"
#include "ui/shell/key_codes.h"
#include "ui/tools/stream_info_dialog.h"

// ---------------------------------------------------------------- slider

PlayerSlider::PlayerSlider(PlayerToolBarModel* model, QWidget* parent) : QSlider(Qt::Horizontal, parent), model_(model) {
  setObjectName(QStringLiteral("c32822"));
  setRange(0, PlayerToolBarModel::kRange);
  setPageStep(100);
  setMinimumWidth(200);
  connect(this, &QSlider::sliderMoved, this, [this](int v) { model_->slider_moved(v); });
  connect(this, &QSlider::actionTriggered, this, [this](int action) {
    if (action == SliderMove || action == SliderNoAction) return;
    // Page and arrow steps: the position after the step.
    model_->slider_moved(sliderPosition());
  });
  connect(this, &QSlider::sliderReleased, this, [this] { model_->slider_released(); });
}

int PlayerSlider::x_of(int position) const {
  QStyleOptionSlider opt;
  initStyleOption(&opt);
  const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
  const int span = width() - handle.width();
  return QStyle::sliderPositionFromValue(minimum(), maximum(), position, span) + handle.width() / 2;
}

void PlayerSlider::paintEvent(QPaintEvent* event) {
  QSlider::paintEvent(event);
  QPainter p(this);
  const int x0 = x_of(model_->mark_in_pos()), x1 = x_of(model_->mark_out_pos());
  const int mid = height() / 2;
  p.fillRect(QRect(QPoint(x0, mid - 3), QPoint(x1, mid + 2)), QColor(0, 90, 200, 110));
  p.setPen(QColor(0, 0, 0));
  for (int pos : {model_->mark_in_pos(), model_->mark_out_pos(), model_->insert_pos()}) {
    const int x = x_of(pos);
    p.drawLine(x, height() - 5, x, height() - 1);
  }
}

void PlayerSlider::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
    const QPoint at = event->position().toPoint();
    if (!handle.contains(at)) {
      const int pos =
          PlayerToolBarModel::click_position(at.x(), handle.width(), groove.left(), groove.width());
      setSliderPosition(pos);
      model_->slider_moved(pos);
    }
  }
  // The thumb is under the pointer now: the press grabs it for a drag.
  QSlider::mousePressEvent(event);
}

// ---------------------------------------------------------------- field

PositionField::PositionField(PlayerToolBarModel* model, QWidget* parent) : QLineEdit(parent), model_(model) {
  setObjectName(QStringLiteral("c32827"));
  QFont f(QStringLiteral("Arial"));
  f.setPixelSize(18);
  f.setBold(false);
  setFont(f);
  setMaxLength(19);
  setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("8888888888")) + 8);
}

void PositionField::keyPressEvent(QKeyEvent* event) {
  const int k = event->key();
  if (k == Qt::Key_Return || k == Qt::Key_Enter) {
    model_->type_position(text().toStdString());
    setText(QString::fromStdString(model_->text()));
    return;
  }
  if (k == Qt::Key_Delete || k == Qt::Key_Left || k == Qt::Key_Right || k == Qt::Key_Backspace) {
    QLineEdit::keyPressEvent(event);
    return;
  }
  const QString t = event->text();
  if (t.size() == 1 && t[0].unicode() < 128 && PlayerToolBarModel::field_accepts(char(t[0].unicode()))) {
    QLineEdit::keyPressEvent(event);
    return;
  }
  event->accept();  // anything else is swallowed
}

// ---------------------------------------------------------------- tool bar

QtPlayerToolBar::QtPlayerToolBar(PlayerToolBarModel* model, QWidget* parent)
    : QWidget(parent), model_(model), slider_(new PlayerSlider(model, this)), field_(new PositionField(model, this)) {
  setObjectName(QStringLiteral("player_toolbar"));
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(2, 2, 2, 2);
  row->addWidget(slider_, 1);
  row->addWidget(field_);
  refresh();
}

void QtPlayerToolBar::refresh() {
  if (!slider_->isSliderDown()) {
    const QSignalBlocker block(slider_);
    slider_->setValue(model_->slider_position());
  }
  if (!field_->hasFocus()) field_->setText(QString::fromStdString(model_->text()));
  setProperty("bitmap", model_->bitmap());
  slider_->update();
}

// ---------------------------------------------------------------- view

QtPlayerView::QtPlayerView(CQuarvelPlayerView* model, QWidget* parent) : QWidget(parent), model_(model) {
  setObjectName(QStringLiteral("player_view"));
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAcceptDrops(true);
}

void QtPlayerView::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasFormat(QLatin1String(kClipDragMimeType))) event->acceptProposedAction();
}

// A clip from the Video Clipboard goes in at the current frame.
void QtPlayerView::dropEvent(QDropEvent* event) {
  const QMimeData* m = event->mimeData();
  if (!m->hasFormat(QLatin1String(kClipDragMimeType))) return;
  std::unique_ptr<EClip> clip = PlayerPane::resolve_clip(m->data(QLatin1String(kClipDragMimeType)).toStdString());
  if (!clip) return;
  event->acceptProposedAction();
  // The insert opens a modal dialog: not inside the drag's own loop.
  std::shared_ptr<EClip> dropped(std::move(clip));
  QTimer::singleShot(0, this, [this, dropped] { model_->drop_clip(*dropped); });
}

QSize QtPlayerView::sizeHint() const {
  const auto pic = model_->frame_slot().latest();
  if (!pic->valid) return {352, 240};
  return QSize(pic->header.header.biWidth, std::abs(pic->header.header.biHeight)).expandedTo(QSize(352, 240));
}

QRect QtPlayerView::picture_rect() const { return picture_rect(*model_->frame_slot().latest()); }

QRect QtPlayerView::picture_rect(const FrameSlot::Picture& pic) const {
  const int pw = pic.valid ? int(pic.header.header.biWidth) : 352;
  const int ph = pic.valid ? std::abs(int(pic.header.header.biHeight)) : 240;
  const FitRect r = aspect_fit(model_->aspect_mode(), width(), height(), pw, ph);
  return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
}

void QtPlayerView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  // Shared, not copied: the playback thread stores its next picture beside it.
  const auto pic = model_->frame_slot().latest();
  const QImage image = pic->valid ? dib_to_image(&pic->header, pic->bits.data()) : QImage();
  const QColor grey(0x80, 0x80, 0x80);
  if (image.isNull()) {
    p.fillRect(rect(), grey);
    return;
  }
  const QRect target = picture_rect(*pic);
  if (target != rect()) {
    QRegion rest(rect());
    rest -= QRegion(target);
    for (const QRect& r : rest) p.fillRect(r, grey);
  }
  p.drawImage(target, image);
}

void QtPlayerView::keyPressEvent(QKeyEvent* event) {
  const int vk = vk_from_qt_key(event->key());
  if (!vk) {
    QWidget::keyPressEvent(event);
    return;
  }
  const Qt::KeyboardModifiers m = event->modifiers();
  model_->key_down(vk, m & Qt::ControlModifier, m & Qt::ShiftModifier, m & Qt::AltModifier);
}

void QtPlayerView::wheelEvent(QWheelEvent* event) {
  const int d = event->angleDelta().y();
  if (d != 0) model_->wheel(d);
  event->accept();
}

void QtPlayerView::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  auto* group = new QActionGroup(&menu);
  const char* names[4] = {"Default", "16 : 9", "4 : 3", "Fit to Window"};
  const int ids[4] = {pcmd::kAspectDefault, pcmd::kAspect16x9, pcmd::kAspect4x3, pcmd::kAspectFit};
  for (int i = 0; i < 4; ++i) {
    QAction* a = menu.addAction(QString::fromLatin1(names[i]));
    a->setObjectName(QStringLiteral("a%1").arg(ids[i]));
    a->setCheckable(true);
    a->setChecked(model_->aspect_mode() == i);
    group->addAction(a);
    connect(a, &QAction::triggered, this, [this, id = ids[i]] { model_->run_command(id); });
  }
  menu.exec(event->globalPos());
}

// ---------------------------------------------------------------- pane

PlayerPane::PlayerPane(EditorEntry* entry, QWidget* parent)
    : QWidget(parent), entry_(entry), model_(std::make_unique<CQuarvelPlayerView>(&editor_settings(), this)) {
  setObjectName(QStringLiteral("player_pane"));
  toolbar_ = new QtPlayerToolBar(&model_->toolbar(), this);
  view_ = new QtPlayerView(model_.get(), this);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(toolbar_);
  column->addWidget(view_, 1);
  setFocusProxy(view_);
  retry_.setSingleShot(false);
  connect(&retry_, &QTimer::timeout, this, [this] { model_->on_retry_timer(); });
  model_->toolbar().changed = [this] { toolbar_->refresh(); };
  jobs_ = std::make_unique<PlayerSaveJobs>(&editor_settings(), this);
  connect(&save_poll_, &QTimer::timeout, this, [this] { jobs_->poll_save_job(); });
  connect(&trim_poll_, &QTimer::timeout, this, [this] { jobs_->poll_trim_job(); });
  if (entry_ && entry_->editor) {
    model_->attach_editor(entry_->editor.get(), entry_->slot, entry_->trim_window);
    jobs_->set_editor(entry_->editor.get());
  }
  toolbar_->refresh();
}

PlayerPane::~PlayerPane() {
  jobs_.reset();
  model_->detach_editor();
  model_->toolbar().changed = nullptr;
}

void PlayerPane::detach_editor() {
  // The jobs own their editors and records: they only lose the window's.
  jobs_->set_editor(nullptr);
  model_->detach_editor();
}

QSize PlayerPane::sizeHint() const {
  return view_->sizeHint() + QSize(0, toolbar_->sizeHint().height());
}

void PlayerPane::start_retry_timer(int ms) { retry_.start(ms); }
void PlayerPane::stop_retry_timer() { retry_.stop(); }
void PlayerPane::frame_ready() { view_->update(); }
void PlayerPane::take_focus() { view_->setFocus(Qt::OtherFocusReason); }
void PlayerPane::aspect_changed() { view_->update(); }

void PlayerPane::notify_copy(int start, int count) {
  if (!entry_ || !entry_->app) return;
  entry_->kind = EditorEntry::kCopy;
  entry_->start_frame = start;
  entry_->frame_count = count;
  entry_->app->editor_callback(entry_);
}

bool PlayerPane::file_information(const EClip& clip, FileInfoTimes* times, std::unique_ptr<EClip>* edited) {
  CStreamInfoDlg info(clip);
  info.time_format = times->time_format;
  if (times->frame_rate > 0) info.frame_rate = times->frame_rate;
  const double values[4] = {times->start, times->end, times->insert, times->offset};
  std::copy(std::begin(values), std::end(values), info.values);
  if (!run_stream_info_dialog(&info, this)) return false;
  times->time_format = info.time_format;
  times->start = info.values[CStreamInfoDlg::kStart];
  times->end = info.values[CStreamInfoDlg::kEnd];
  times->insert = info.values[CStreamInfoDlg::kInsert];
  times->offset = info.values[CStreamInfoDlg::kOffset];
  *edited = std::make_unique<EClip>(info.project());
  return true;
}

bool PlayerPane::save() {
  jobs_->set_editor(model_->editor());
  jobs_->save_edited_movie(model_->mark_in, model_->mark_out);
  return true;
}

bool PlayerPane::gop_trim() {
  jobs_->set_editor(model_->editor());
  jobs_->trim_to_file(model_->mark_in, model_->mark_out);
  return true;
}

bool PlayerPane::run_insert_dialog(InsertParams* record, const EClip& clip, std::string* folder, bool from_drop,
                                   double effect_seconds) {
  CAudioInsertDlg dlg(record, this, InsertMode::video);
  const QPoint at = mapToGlobal(QPoint(0, 0));
  dlg.set_position(at.x(), at.y());
  dlg.set_folder(*folder);
  dlg.set_file_controls_locked(from_drop);
  dlg.set_default_effect_length(effect_seconds);
  dlg.SetInputClip(clip);
  const bool ok = dlg.run_modal();
  if (!dlg.folder().empty()) *folder = dlg.folder();
  return ok;
}

namespace {
PlayerPane::ClipResolver& clip_resolver() {
  static PlayerPane::ClipResolver resolver;
  return resolver;
}
}  // namespace

void PlayerPane::set_clip_resolver(ClipResolver resolver) { clip_resolver() = std::move(resolver); }

std::unique_ptr<EClip> PlayerPane::resolve_clip(const std::string& drag) {
  return clip_resolver() ? clip_resolver()(drag) : nullptr;
}

bool PlayerPane::run_save_dialog(CSaveDlg& dialog) {
  SaveDialogWidget widget(&dialog, this);
  return widget.exec() == QDialog::Accepted;
}

void PlayerPane::start_poll_timer(int id, int ms) {
  (id == PlayerSaveJobs::kSaveTimer ? save_poll_ : trim_poll_).start(ms);
}

void PlayerPane::stop_poll_timer(int id) { (id == PlayerSaveJobs::kSaveTimer ? save_poll_ : trim_poll_).stop(); }

void PlayerPane::announce(const std::string& path) {
  if (!entry_ || !entry_->app) return;
  entry_->kind = EditorEntry::kFileWritten;
  entry_->file_name = path;
  entry_->app->editor_callback(entry_);
}
