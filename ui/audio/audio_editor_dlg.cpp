#include "ui/audio/audio_editor_dlg.h"

#include <algorithm>

#include <QCheckBox>
#include <QCloseEvent>
#include <QShortcut>
#include <QShowEvent>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/audio/audio_insert_operator.h"
#include "app/shell/file_utils.h"
#include "ui/audio/audio_dialogs.h"
#include "ui/audio/insert_dialog.h"
#include "ui/audio/equalizer_dlg.h"
#include "ui/audio/audio_save_dlg.h"
#include "ui/audio/lyrics_editor_dlg.h"
#include "platform/services.h"

namespace {

constexpr const char* kListFilter = "Playlist Files (*.als)|*.als|All (*.*)|*.*||";
constexpr const char* kFilter =
    "MPEG Files(*.mp3;*.MP3;*.mpa;*.abs;*.mp2;*.mpg;*.*.dat)|*.mp3;*.MP3;*.mpa;*.abs;*.mp2;*.mpg;*.dat|All (*.*)|*.*||";

}  // namespace

// Black panel with the track's information (red), the time (green) and
// the lyric line (white).
class AudioDisplay : public QWidget {
 public:
  explicit AudioDisplay(AudioPlayer* p, QWidget* parent) : QWidget(parent), p_(p) {
    setObjectName(QStringLiteral("c1236"));
    setMinimumSize(300, 110);
  }
  QString lyric;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter g(this);
    g.fillRect(rect(), Qt::black);
    QFont info = font();
    info.setPixelSize(14);
    g.setFont(info);
    g.setPen(QColor(255, 0, 0));
    const QRect r = rect().adjusted(6, 4, -6, -4);
    int y = r.top();
    for (const std::string& line : p_->info_lines(lyric.isEmpty())) {
      g.drawText(QRect(r.left(), y, r.width(), 16), Qt::AlignRight, QString::fromStdString(line));
      y += 16;
    }
    g.drawText(QRect(r.left(), r.top(), r.width(), 16), Qt::AlignLeft, QString::fromStdString(p_->status_text()));
    g.drawText(QRect(r.left(), r.top() + 16, r.width() / 2, 16), Qt::AlignLeft,
               QString::fromStdString(p_->index_text()));
    if (lyric.isEmpty())
      g.drawText(QRect(r.left(), r.top() + 32, r.width() * 2 / 3, 16), Qt::AlignLeft,
                 QString::fromStdString(p_->display_text()));
    QFont big = font();
    big.setPixelSize(36);
    g.setFont(big);
    g.setPen(QColor(0, 255, 0));
    g.drawText(rect().adjusted(0, 0, 0, -8), Qt::AlignCenter, QString::fromStdString(p_->time().text()));
    if (!lyric.isEmpty()) {
      QFont ly = font();
      ly.setPixelSize(18);
      g.setFont(ly);
      g.setPen(Qt::white);
      g.drawText(QRect(r.left(), r.bottom() - 22, r.width(), 22), Qt::AlignHCenter | Qt::AlignBottom, lyric);
    }
  }

 private:
  AudioPlayer* p_;
};

CAudioEditorDlg::CAudioEditorDlg(AudioPlayer::Deps deps)
    : QWidget(nullptr, Qt::Window),
      player_(std::make_unique<AudioPlayer>(std::move(deps))),
      edit_(std::make_unique<AudioEditCommands>(player_.get())) {
  setObjectName(QStringLiteral("d114"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(audio_window_name());
  setWindowIcon(QIcon(QStringLiteral(":/icons/audio_player.svg")));

  auto* top = new QVBoxLayout(this);
  auto* upper = new QHBoxLayout;
  display_ = new AudioDisplay(player_.get(), this);
  upper->addWidget(display_, 1);
  volume_ = new QSlider(Qt::Vertical, this);
  volume_->setObjectName(QStringLiteral("c1237"));
  volume_->setRange(0, 80);
  volume_->setPageStep(10);
  volume_->setTickInterval(10);
  volume_->setTickPosition(QSlider::TicksRight);
  // Top loudest: the slider shows 80 minus the volume.
  volume_->setInvertedAppearance(true);
  upper->addWidget(volume_);
  top->addLayout(upper);

  position_ = new QSlider(Qt::Horizontal, this);
  position_->setObjectName(QStringLiteral("c1235"));
  position_->setRange(0, AudioPlayer::kSlider);
  position_->setPageStep(50);
  top->addWidget(position_);

  auto* transport = new QHBoxLayout;
  transport->addWidget(make_button(1212, QStringLiteral("Play / Stop")));
  transport->addWidget(make_button(1204, QStringLiteral("Loop mode")));
  transport->addWidget(make_button(1210, QStringLiteral("Mark")));
  transport->addWidget(make_button(1198, QStringLiteral("Equalizer")));
  transport->addWidget(make_button(1202, QStringLiteral("Editor")));
  transport->addWidget(make_button(1208, QStringLiteral("Lyrics Editor")));
  transport->addWidget(make_button(1209, QStringLiteral("Load lyrics")));
  left_ = new QCheckBox(QStringLiteral("&Left"), this);
  left_->setObjectName(QStringLiteral("c1186"));
  right_ = new QCheckBox(QStringLiteral("&Right"), this);
  right_->setObjectName(QStringLiteral("c1187"));
  transport->addStretch(1);
  transport->addWidget(left_);
  transport->addWidget(right_);
  transport->addWidget(make_button(1211, QStringLiteral("Add MPEG Audio Track(s)")));
  top->addLayout(transport);

  editor_panel_ = new QWidget(this);
  editor_panel_->setObjectName(QStringLiteral("editor_panel"));
  auto* ed = new QHBoxLayout(editor_panel_);
  ed->setContentsMargins(0, 0, 0, 0);
  const std::pair<int, const char*> edit_buttons[] = {
      {1193, "Mark-In"}, {1194, "Mark-Out"}, {1197, "Undo"},   {1196, "Redo"}, {1189, "Cut"},
      {1190, "Cut Left"}, {1191, "Cut Right"}, {1192, "Insert"}, {1195, "Save"}, {1188, "Close editor"}};
  for (const auto& [id, tip] : edit_buttons) ed->addWidget(make_button(id, QString::fromUtf8(tip)));
  ed->addStretch(1);
  top->addWidget(editor_panel_);

  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("c1199"));
  list_->setHeaderHidden(true);
  list_->setRootIsDecorated(false);
  list_->setColumnCount(1);
  list_->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
  top->addWidget(list_, 1);

  auto* lists = new QHBoxLayout;
  for (const auto& [id, tip] : {std::pair<int, const char*>{1203, "Load Play List"}, {1205, "Save Play List"},
                                {1200, "Remove"}, {1201, "Clear"}, {1206, "Tick all"}})
    lists->addWidget(make_button(id, QString::fromUtf8(tip)));
  lists->addStretch(1);
  top->addLayout(lists);

  timer_ = new QTimer(this);
  timer_->setInterval(AudioPlayer::kInterval);
  connect(timer_, &QTimer::timeout, this, [this] { player_->PlayTick(); });
  player_->on_timer = [this](bool run) {
    if (run)
      timer_->start();
    else
      timer_->stop();  // no timeout comes after stop()
  };
  player_->on_changed = [this] { refresh(); };

  connect(buttons_[1212], &QToolButton::clicked, this, [this] { player_->TogglePlay(); });
  connect(buttons_[1211], &QToolButton::clicked, this, [this] { on_add_tracks(); });
  connect(buttons_[1204], &QToolButton::clicked, this, [this] { player_->CycleLoop(); });
  connect(buttons_[1210], &QToolButton::clicked, this, [this] {
    if (player_->editor_mode())
      edit_->SegmentSwitch();
    else
      player_->MarkButton();
  });
  connect(buttons_[1202], &QToolButton::clicked, this, [this] { on_editor_button(); });
  connect(buttons_[1188], &QToolButton::clicked, this, [this] {
    close_insert_dialog(false);
    close_save_dialog(false);
    edit_->ClearHistories();
    player_->LeaveEditor();
    apply_layout();
  });
  connect(buttons_[1193], &QToolButton::clicked, this, [this] { edit_->MarkIn(); });
  connect(buttons_[1194], &QToolButton::clicked, this, [this] { edit_->MarkOut(); });
  for (const auto& [id, command] : {std::pair<int, int>{1197, kAudioUndo}, {1196, kAudioRedo}, {1189, kAudioCut},
                                    {1190, kAudioCutLeft}, {1191, kAudioCutRight}})
    connect(buttons_[id], &QToolButton::clicked, this, [this, c = command] { edit_->ExecuteAudioEditCommand(c); });
  connect(buttons_[1195], &QToolButton::clicked, this, [this] { on_save_button(); });
  connect(buttons_[1192], &QToolButton::clicked, this, [this] { on_insert_button(); });
  edit_->insert_operator = [this] { return insert_now(); };
  edit_->on_track_restored = [this] { refresh_insert_dialog(); };
  // Playback keeps the record's play time; the dialog's timer follows it.
  player_->on_insert_time = [this](double seconds) { insert_.play_position = seconds; };
  save_timer_ = new QTimer(this);
  save_timer_->setInterval(AudioSaveJob::kPollMs);
  connect(save_timer_, &QTimer::timeout, this, [this] {
    edit_->SaveTick();
    if (!edit_->save_running()) save_timer_->stop();
  });
  edit_->on_save_ended = [this] {
    if (save_dlg_) save_dlg_->EnableSaveButtons(1);
    refresh();
  };
  connect(buttons_[1200], &QToolButton::clicked, this, [this] {
    const int i = list_->currentIndex().row();
    player_->RemoveEntry(i);
    fill_list();
    const int n = list_->topLevelItemCount();
    if (n > 0) list_->setCurrentItem(list_->topLevelItem(std::min(i, n - 1)));
  });
  connect(buttons_[1201], &QToolButton::clicked, this, [this] {
    player_->ClearList();
    fill_list();
  });
  connect(buttons_[1206], &QToolButton::clicked, this, [this] {
    player_->TickAll();
    fill_list();
  });
  connect(position_, &QSlider::actionTriggered, this, [this](int) {
    player_->Seek(position_->sliderPosition());
  });
  connect(volume_, &QSlider::valueChanged, this, [this](int v) {
    if (80 - v != player_->volume()) player_->SetVolume(80 - v);
  });
  connect(left_, &QCheckBox::clicked, this, [this] { player_->ToggleLeft(); });
  connect(right_, &QCheckBox::clicked, this, [this] { player_->ToggleRight(); });
  connect(list_, &QTreeWidget::itemChanged, this, &CAudioEditorDlg::on_item_changed);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
    player_->PlayEntry(list_->indexOfTopLevelItem(item));
    fill_list();
  });

  // F1 opens the window's help page, as its menu's "&Help" does.
  auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(f1, &QShortcut::activated, this, [] { platform().help->show("help.chm::/htm/chap04-1.htm"); });
  connect(buttons_[1208], &QToolButton::clicked, this, [this] { on_lyrics_editor(); });
  connect(buttons_[1198], &QToolButton::clicked, this, [this] { on_equalizer(); });
  connect(buttons_[1209], &QToolButton::clicked, this, [this] {
    FileDialogRequest r;
    r.kind = FileDialogKind::Open;
    r.title = "Load Lyrics Text";
    r.filter = "Lyrics Files (*.lyr)|*.lyr|All (*.*)|*.*||";
    r.folder = player_->folders.lyrics;
    const FileDialogResult res = platform().dialogs->run(r);
    if (res.accepted && !res.paths.empty()) player_->LoadLyricsText(res.paths.front());
  });
  connect(buttons_[1203], &QToolButton::clicked, this, [this] { on_load_list(); });
  connect(buttons_[1205], &QToolButton::clicked, this, [this] { on_save_list(); });

  resize(460, 420);
  const PlayerConfig c = player_->LoadConfig();
  if (c.window_read) {
    // A place off the screen now starts at the corner.
    ScreenInfo* screen = platform().screen;
    int x = c.left, y = c.top;
    if (screen && (c.left < 0 || c.top < 0 || c.right > screen->width() || c.bottom > screen->height())) x = y = 0;
    if (x || y) move(x, y);
  }
  fill_list();
  apply_layout();
  refresh();
}

void CAudioEditorDlg::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Play/Stop takes the keyboard first: Space plays and stops.
  if (!shown_) {
    shown_ = true;
    refresh();
  }
}

void CAudioEditorDlg::on_load_list() {
  const bool was = player_->playing();
  player_->StopPlay();
  FileDialogRequest r;
  r.kind = FileDialogKind::Open;
  r.title = "Load Play List";
  r.filter = kListFilter;
  r.folder = player_->folders.list;
  const FileDialogResult res = platform().dialogs->run(r);
  if (res.accepted && !res.paths.empty()) player_->LoadPlayList(res.paths.front());
  fill_list();
  if (was && player_->has_track() && !player_->playing()) player_->StartPlay();
  refresh();
}

void CAudioEditorDlg::on_save_list() {
  FileDialogRequest r;
  r.kind = FileDialogKind::Save;
  r.title = "Save Play List";
  r.filter = kListFilter;
  r.default_ext = "als";
  r.folder = player_->folders.list;
  const FileDialogResult res = platform().dialogs->run(r);
  if (!res.accepted || res.paths.empty()) return;
  const std::string& path = res.paths.front();
  if (player_->WriteTrackList(path) > 0) {
    const size_t slash = path.find_last_of('/');
    player_->folders.list = slash == std::string::npos ? std::string() : path.substr(0, slash);
  } else {
    platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok, "<" + path + ">: cannot open to write");
  }
}

CAudioEditorDlg::~CAudioEditorDlg() {
  player_->on_changed = nullptr;
  player_->on_timer = nullptr;
  player_->on_insert_time = nullptr;
  edit_->insert_operator = nullptr;
  edit_->on_track_restored = nullptr;
}

QToolButton* CAudioEditorDlg::make_button(int id, const QString& tip) {
  auto* b = new QToolButton(this);
  b->setObjectName(QStringLiteral("c%1").arg(id));
  b->setToolTip(tip);
  b->setAccessibleName(tip);
  b->setIconSize(QSize(24, 24));
  b->setAutoRaise(true);
  b->setFocusPolicy(Qt::StrongFocus);
  buttons_[id] = b;
  return b;
}

QToolButton* CAudioEditorDlg::button(int id) const {
  auto it = buttons_.find(id);
  return it == buttons_.end() ? nullptr : it->second;
}

QString CAudioEditorDlg::icon_name(int id) const {
  auto it = icons_.find(id);
  return it == icons_.end() ? QString() : it->second;
}

void CAudioEditorDlg::set_icon(int id, const char* name, bool enabled) {
  QToolButton* b = button(id);
  if (!b) return;
  // A disabled command shows the second picture of its pair.
  const QString n = QString::fromUtf8(name) + (enabled ? QString() : QStringLiteral("_no"));
  if (icons_[id] != n) {
    icons_[id] = n;
    b->setIcon(QIcon(QStringLiteral(":/icons/audio/%1.svg").arg(n)));
  }
  b->setEnabled(enabled);
}

void CAudioEditorDlg::refresh() {
  AudioPlayer& p = *player_;
  const bool any = !p.entries().empty();
  const bool track = p.has_track();
  set_icon(1212, p.playing() ? "stop" : "play", any);
  // A disabled button cannot take the focus: Play takes it once it can.
  if (any && !focus_given_ && isVisible()) {
    focus_given_ = true;
    buttons_[1212]->setFocus(Qt::OtherFocusReason);
  }
  set_icon(1211, "open", true);
  const char* loops[] = {"loop_no", "loop_one", "loop_all", "loop_rnd"};
  set_icon(1204, p.mark_state() == 2 ? "loop_none" : loops[int(p.loop())], true);
  if (p.editor_mode())
    set_icon(1210, p.mark_state() == 2 ? "mark_no" : "mark_on", track);
  else
    set_icon(1210, p.mark_state() == 0 ? "mark_in" : p.mark_state() == 1 ? "mark_out" : "mark_no", track);
  // The equalizer's button shows whether its window is open.
  set_icon(1198, "eqzr", !equalizer_);
  buttons_[1198]->setEnabled(true);
  set_icon(1203, "load", true);
  set_icon(1205, "save", any);
  set_icon(1200, "cut", any);
  set_icon(1201, "cut_all", any);
  set_icon(1206, "sel_all", p.any_unticked());
  set_icon(1202, track ? "ed_rec" : "lst_help", true);
  set_icon(1208, "lyr_edit", !lyrics_editor_);
  buttons_[1208]->setEnabled(true);
  set_icon(1209, "lyr_open", track);
  const int mask = edit_->UpdateMask();
  set_icon(1193, "mark_in", track);
  set_icon(1194, "mark_out", track);
  set_icon(1197, "ed_undo", mask & kMaskUndo);
  set_icon(1196, "ed_redo", mask & kMaskRedo);
  set_icon(1189, "ed_cut", mask & kMaskCut);
  set_icon(1190, "ed_cut_l", mask & kMaskCutLeft);
  set_icon(1191, "ed_cut_r", mask & kMaskCutRight);
  set_icon(1192, insert_dlg_ ? "ed_ins_no" : "ed_ins", track || insert_dlg_);
  // Down while its dialog is open or a save runs.
  set_icon(1195, "ed_rec", track || edit_->save_running());
  buttons_[1195]->setCheckable(true);
  buttons_[1195]->setChecked(save_dlg_ || edit_->save_running());
  set_icon(1188, "ed_close", true);
  if (!position_->isSliderDown() && position_->value() != p.slider()) {
    const QSignalBlocker block(position_);
    position_->setValue(p.slider());
  }
  if (volume_->value() != 80 - p.volume()) {
    const QSignalBlocker block(volume_);
    volume_->setValue(80 - p.volume());
  }
  left_->setChecked(p.channels() & 1);
  right_->setChecked(p.channels() & 2);
  if (list_->topLevelItemCount() != int(p.entries().size())) fill_list();
  if (p.current() >= 0 && p.current() < list_->topLevelItemCount() &&
      list_->currentItem() != list_->topLevelItem(p.current())) {
    const QSignalBlocker block(list_);
    list_->setCurrentItem(list_->topLevelItem(p.current()));
  }
  display_->lyric = QString::fromStdString(p.lyric_line());
  display_->update();
}

void CAudioEditorDlg::fill_list() {
  filling_ = true;
  const QSignalBlocker block(list_);
  list_->clear();
  for (const AudioTrackEntry& e : player_->entries()) {
    auto* item = new QTreeWidgetItem(list_, QStringList{QString::fromStdString(track_list_text(e))});
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsEditable);
    item->setCheckState(0, e.play ? Qt::Checked : Qt::Unchecked);
  }
  filling_ = false;
}

void CAudioEditorDlg::on_item_changed(QTreeWidgetItem* item, int) {
  if (filling_) return;
  const int i = list_->indexOfTopLevelItem(item);
  if (i < 0 || i >= int(player_->entries().size())) return;
  const AudioTrackEntry& e = player_->entries()[size_t(i)];
  const int play = item->checkState(0) == Qt::Checked ? 1 : 0;
  if (play != e.play) player_->SetPlayFlag(i, play);
  // Label editing: the text typed replaces the label; the list text is
  // rebuilt from it.
  const std::string typed = item->text(0).toStdString();
  if (typed != track_list_text(e)) {
    player_->SetLabel(i, strip_list_time(typed));
    fill_list();
  }
}

void CAudioEditorDlg::on_add_tracks() {
  const bool was = player_->playing();
  player_->StopPlay();
  FileDialogRequest r;
  r.kind = FileDialogKind::OpenMulti;
  r.title = "Add MPEG Audio Track(s)";
  r.filter = kFilter;
  r.folder = player_->folders.track;
  r.max_files = 4096;
  const FileDialogResult res = platform().dialogs->run(r);
  if (!res.accepted || res.paths.empty()) {
    if (was) player_->StartPlay();
    return;
  }
  player_->AddTracks(res.paths);
  fill_list();
  refresh();
}

void CAudioEditorDlg::on_lyrics_editor() {
  if (lyrics_editor_) {
    lyrics_editor_->close_by_owner();
    lyrics_editor_ = nullptr;
    refresh();
    return;
  }
  AudioPlayer& p = *player_;
  const std::string file =
      p.lyric_count() && p.current() >= 0 ? p.entries()[size_t(p.current())].lyrics : std::string();
  lyrics_editor_ = new CLyricsEditorDlg(file, p.folders.lyrics, int(p.heard_time()));
  lyrics_editor_->on_closed = [this](const std::string& folder) {
    if (!folder.empty()) player_->folders.lyrics = folder;
    lyrics_editor_ = nullptr;
    refresh();
  };
  lyrics_editor_->on_saved = [this](const std::string& f) { player_->LoadLyricsText(f); };
  const QRect r = frameGeometry();
  lyrics_editor_->move(r.right() + 1, r.top());
  lyrics_editor_->show();
  refresh();
}

void CAudioEditorDlg::on_equalizer() {
  if (equalizer_) {
    equalizer_->close();
    return;
  }
  equalizer_ = new CEqualizerDlg(player_->equalizer.gains, player_->equalizer.preamp);
  equalizer_->model().on_event = [this](const GainSet& g, int preamp, int event) {
    EqualizerSelection sel;
    sel.gains = g;
    sel.preamp = preamp;
    player_->HandleEqualizerEvent(sel, event);
    if (event != 1) {
      equalizer_ = nullptr;
      refresh();
    }
  };
  const QRect r = frameGeometry();
  equalizer_->move(r.right() + 1, r.top());
  equalizer_->show();
  refresh();
}

void CAudioEditorDlg::on_editor_button() {
  if (!player_->has_track()) {
    platform().help->show("help.chm::/htm/chap05-1.htm");
    return;
  }
  if (equalizer_) equalizer_->close();
  if (lyrics_editor_) on_lyrics_editor();
  if (player_->EnterEditor()) apply_layout();
}

void CAudioEditorDlg::apply_layout() {
  editor_panel_->setVisible(player_->editor_mode());
  if (player_->editor_mode())
    setWindowTitle(QStringLiteral(" Quarvel MPEG Audio Editor "));
  else if (windowTitle().startsWith(QStringLiteral(" Quarvel")))
    setWindowTitle(QStringLiteral(" Quarvel MPEG Audio Player "));
  refresh();
}

void CAudioEditorDlg::OpenTrack(const std::string& path) {
  player_->OpenTrack(path);
  fill_list();
  refresh();
}

void CAudioEditorDlg::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* help = menu.addAction(QStringLiteral("&Help"));
  help->setShortcut(QKeySequence(Qt::Key_F1));
  menu.addSeparator();
  QAction* about = menu.addAction(QStringLiteral("&About Quarvel MPEG Audio Editor"));
  QAction* chosen = menu.exec(event->globalPos());
  if (chosen == help) platform().help->show("help.chm::/htm/chap04-1.htm");
  if (chosen == about) show_about();
}

void CAudioEditorDlg::show_about() {
  CAudioAboutDlg about(this);
  about.exec();
}

void CAudioEditorDlg::on_save_button() {
  if (edit_->save_running()) {
    edit_->job().show_progress();
    return;
  }
  if (save_dlg_) {
    close_save_dialog(false);
    return;
  }
  if (!player_->has_track()) return;
  edit_->PrepareSaveSettings(player_->folders.track);
  save_dlg_ = new AudioSaveDialogWidget(&edit_->save_settings());
  CAudioSaveDlg& m = save_dlg_->model();
  if (m.folder.empty()) m.folder = player_->folders.save;
  m.on_close = [this](const std::string& folder) {
    if (!folder.empty()) player_->folders.save = folder;
    save_dlg_ = nullptr;
    refresh();
  };
  m.on_save = [this](const std::string&) {
    edit_->ExecuteAudioEditCommand(kAudioSave);
    if (edit_->save_running()) {
      save_timer_->start();
    } else {
      // Nothing runs (a project file, or a refusal): Save comes back once
      // the dialog has finished its request.
      QTimer::singleShot(0, this, [this] {
        if (save_dlg_ && !edit_->save_running()) save_dlg_->EnableSaveButtons(1);
      });
    }
    refresh();
  };
  const QRect r = frameGeometry();
  save_dlg_->move(r.right() + 1, r.top());
  save_dlg_->show();
  refresh();
}

void CAudioEditorDlg::close_save_dialog(bool by_owner) {
  if (!save_dlg_) return;
  AudioSaveDialogWidget* d = save_dlg_;
  if (by_owner) {
    save_dlg_ = nullptr;
    d->close_by_owner();
  } else {
    d->close();
  }
}

void CAudioEditorDlg::closeEvent(QCloseEvent* event) {
  if (!closed_ && !edit_->ConfirmCloseDuringSave()) {
    event->ignore();
    return;
  }
  if (!closed_) {
    closed_ = true;
    save_timer_->stop();
    close_insert_dialog(true);
    close_save_dialog(true);
    timer_->stop();
    if (equalizer_) equalizer_->close();
    if (lyrics_editor_) on_lyrics_editor();
    const QRect g = frameGeometry();
    player_->SaveConfig({g.left(), g.top(), g.right() + 1, g.bottom() + 1}, std::time(nullptr));
    player_->Shutdown();
    if (close_cb_) close_cb_();
  }
  event->accept();
}

void CAudioEditorDlg::on_insert_button() {
  if (insert_dlg_) {
    close_insert_dialog(false);
    return;
  }
  AudioTrackPort* track = player_->track();
  if (!track) return;
  // A new dialog starts afresh: nothing of an earlier one counts as applied.
  insert_ = InsertParams();
  insert_applied_ = InsertParams();
  const double at = std::clamp(player_->heard_time(), 0.0, double(player_->rounded_length()));
  insert_.insertion = insert_.play_position = at;
  insert_.track_length = track->get_length();
  insert_.scale_position = player_->folders.insert_scale[0];
  insert_.offset_position = player_->folders.insert_scale[1];
  preview_ = false;
  std::unique_ptr<EClip> whole = track->copy(0.0, 0.0);
  if (!whole) return;
  auto* d = new CAudioInsertDlg(&insert_, this, InsertMode::audio);
  d->set_action_callback([this](int code) { on_insert_action(code); });
  d->set_close_callback([this](int code) { on_insert_closed(code); });
  const QRect r = frameGeometry();
  d->set_position(r.right() + 1, r.top());
  d->set_folder(player_->folders.insert);
  d->SetInputClip(*whole);
  insert_dlg_ = d;
  d->Create();
  refresh();
}

void CAudioEditorDlg::close_insert_dialog(bool by_owner) {
  if (!insert_dlg_) return;
  CAudioInsertDlg* d = insert_dlg_;
  if (by_owner) {
    // The window goes: no callback, but the strips' scales are kept.
    insert_dlg_ = nullptr;
    d->set_suppress_close_callback(true);
    d->close();
    player_->folders.insert_scale[0] = insert_.scale_position;
    player_->folders.insert_scale[1] = insert_.offset_position;
  } else {
    d->close();
  }
}

void CAudioEditorDlg::on_insert_closed(int code) {
  insert_dlg_ = nullptr;
  // Closing takes back what was only tried; an applied insert stays.
  if (code == 1 && preview_) {
    edit_->ExecuteAudioEditCommand(kAudioUndo);
    edit_->ClearHistories();
  }
  preview_ = false;
  player_->folders.insert_scale[0] = insert_.scale_position;
  player_->folders.insert_scale[1] = insert_.offset_position;
  refresh();
}

namespace {

bool same_insert(const InsertParams& a, const InsertParams& b) {
  return a.file_name == b.file_name && a.offset == b.offset && a.length == b.length &&
         a.input_length == b.input_length && a.insertion == b.insertion && a.track_length == b.track_length &&
         a.start_operator == b.start_operator && a.start_length == b.start_length &&
         a.end_operator == b.end_operator && a.end_inputs == b.end_inputs && a.end_length == b.end_length;
}

}  // namespace

void CAudioEditorDlg::on_insert_action(int code) {
  if (code == CAudioInsertDlg::kRemove) {
    edit_->insert_point = insert_.insertion;
    edit_->ExecuteAudioEditCommand(kAudioRemoveEffects);
    refresh_insert_dialog();
    return;
  }
  if (!same_insert(insert_, insert_applied_)) {
    const int done = edit_->ExecuteAudioEditCommand(kAudioInsert);
    // Apply keeps the edit: only a Test is taken back by the next try or
    // by closing the dialog.
    if (code == CAudioInsertDlg::kApply) {
      if (done) preview_ = false;
      refresh_insert_dialog();
    }
    return;
  }
  // The same settings again: the piece is only marked.
  const InsertParams& r = insert_;
  const double a = r.insertion - (r.start_inputs == 2 ? r.start_length : 0.0);
  const double b = r.length != 0 ? r.length : r.start_length;
  edit_->MarkPiece(a, b);
  if (code == CAudioInsertDlg::kApply) preview_ = false;
  refresh();
}

int CAudioEditorDlg::insert_now() {
  AudioTrackPort* track = player_->track();
  if (!track) return 0;
  if (preview_) {
    edit_->ExecuteAudioEditCommand(kAudioUndo);
    preview_ = false;
  }
  InsertParams& r = insert_;
  if (!r.file_name.empty()) player_->folders.insert = split_path(r.file_name);
  const int done = edit_->CommitInsert(ApplyAudioInsertOperator(*track, r.file_name, r.offset, r.length, r.insertion,
                                                               r.track_length, &r.start_operator, &r.start_length,
                                                               &r.end_operator, &r.end_length));
  if (done) {
    preview_ = true;
    insert_applied_ = r;
  }
  return done;
}

void CAudioEditorDlg::refresh_insert_dialog() {
  AudioTrackPort* track = player_->track();
  if (!insert_dlg_ || !track) return;
  std::unique_ptr<EClip> whole = track->copy(0.0, 0.0);
  if (!whole) return;
  insert_.track_length = track->get_length();
  insert_dlg_->SetInputClip(*whole);
}
