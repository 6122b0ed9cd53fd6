#include "ui/shell/options_sheet.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "platform/services.h"
#include "ui/shell/key_mapping_dialog.h"

namespace {

// Radio buttons of values in a group; choosing one calls pick.
QButtonGroup* radios(QWidget* page, QVBoxLayout* layout, const char* name,
                     std::initializer_list<std::pair<const char*, int>> items, int checked,
                     std::function<void(int)> pick) {
  auto* group = new QButtonGroup(page);
  for (const auto& [text, value] : items) {
    auto* b = new QRadioButton(QString::fromUtf8(text), page);
    b->setObjectName(QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(value));
    group->addButton(b, value);
    layout->addWidget(b);
    b->setChecked(value == checked);
  }
  QObject::connect(group, &QButtonGroup::idClicked, page, std::move(pick));
  return group;
}

QCheckBox* check(QWidget* page, QVBoxLayout* layout, const char* name, const char* text, int on,
                 std::function<void(int)> set) {
  auto* c = new QCheckBox(QString::fromUtf8(text), page);
  c->setObjectName(QLatin1String(name));
  c->setChecked(on != 0);
  layout->addWidget(c);
  QObject::connect(c, &QCheckBox::toggled, page, [set = std::move(set)](bool v) { set(v ? 1 : 0); });
  return c;
}

}  // namespace

OptionsSheet::OptionsSheet(EditorSettings* settings, QWidget* parent) : QDialog(parent), model_(settings) {
  setWindowTitle(QStringLiteral(" Options..."));
  tabs_ = new QTabWidget(this);
  // Every page's tab in sight.
  tabs_->setUsesScrollButtons(false);
  tabs_->addTab(display_page(), QStringLiteral("Video Display"));
  tabs_->addTab(size_page(), QStringLiteral("Image Size"));
  tabs_->addTab(encoder_page(), QStringLiteral("Video Encoder"));
  tabs_->addTab(keys_page(), QStringLiteral("Keyboard Controls"));
  tabs_->addTab(length_page(), QStringLiteral("Default Length"));
  tabs_->addTab(audio_page(), QStringLiteral("Audio Encoder"));
  tabs_->setCurrentIndex(model_.first_page());

  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply |
                                       QDialogButtonBox::Help,
                                   this);
  apply_ = box->button(QDialogButtonBox::Apply);
  connect(box->button(QDialogButtonBox::Ok), &QPushButton::clicked, this, &OptionsSheet::ok);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(apply_, &QPushButton::clicked, this, &OptionsSheet::apply);
  connect(box, &QDialogButtonBox::helpRequested, this,
          [] { platform().help->show("help.chm::/htm/chap02-5-7.htm"); });
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(box);
  refresh();
}

OptionsSheet::~OptionsSheet() { model_.closed_on(tabs_->currentIndex()); }

void OptionsSheet::refresh() {
  bool any = false;
  for (int p = 0; p < OptionsSheetModel::kPages; ++p) any = model_.modified(p) || any;
  apply_->setEnabled(any);
}

void OptionsSheet::apply() {
  model_.apply_all();
  refresh();
}

void OptionsSheet::ok() {
  model_.apply_all();
  accept();
}

QWidget* OptionsSheet::choice_page(const char* name, std::initializer_list<std::pair<const char*, int>> items,
                                   int* choice, const char* check_name, const char* check_text, int* flag) {
  auto* page = new QWidget;
  auto* l = new QVBoxLayout(page);
  radios(page, l, name, items, *choice, [this, choice](int v) {
    *choice = v;
    refresh();
  });
  check(page, l, check_name, check_text, *flag, [this, flag](int v) {
    *flag = v;
    refresh();
  });
  l->addStretch();
  return page;
}

QWidget* OptionsSheet::display_page() {
  QWidget* page =
      choice_page("c1_color", {{" 8-bit dither", 8}, {" 16-bit (5:6:5)", 16}, {" 24-bit true color", 24}},
                  &model_.color, "c1_loop", "  Loop --- automatic rewind at both ends of a segment ", &model_.looping);
  page->findChild<QRadioButton*>(QStringLiteral("c1_color_16"))->setEnabled(false);
  page->findChild<QRadioButton*>(QStringLiteral("c1_color_24"))->setEnabled(model_.color24_allowed());
  return page;
}

QWidget* OptionsSheet::size_page() {
  return choice_page("c2_size",
                     {{"  Full --- original coded picture size", 0},
                      {"  Half --- decimated by 2 in both dimensions", 1},
                      {"  Quarter --- reduced to 1/4 in both dimensions", 2}},
                     &model_.size, "c2_field", "  Display one single field of an interlaced frame", &model_.field_mode);
}

QWidget* OptionsSheet::encoder_page() {
  return choice_page("c3_me",
                     {{"  Smart --- balanced between speed and quality", 0},
                      {"  Speed -- maximize speed with lower quality", 1},
                      {"  Quality -- maximize quality with lower speed ", 2}},
                     &model_.me_algorithm, "c3_scan", "  Full sequence scan when loading MPEG", &model_.full_scan);
}

QWidget* OptionsSheet::keys_page() {
  auto* page = new QWidget;
  auto* l = new QVBoxLayout(page);
  auto* group = new QGroupBox(QStringLiteral(" Jump Step Size "), page);
  auto* gl = new QVBoxLayout(group);
  gl->addWidget(new QLabel(QStringLiteral(" Arrow Key: Up / Dn"), group));
  jump_ = new QLineEdit(group);
  jump_->setObjectName(QStringLiteral("c4_jump"));
  gl->addWidget(jump_);
  radios(group, gl, "c4_format", {{" frame", 0}, {" second", 1}, {" percent (%)", 2}}, model_.keys.jump_format,
         [this](int v) {
           model_.set_jump_format(v);
           filling_ = true;
           jump_->setText(QString::fromStdString(model_.jump_text()));
           filling_ = false;
           refresh();
         });
  jump_->setText(QString::fromStdString(model_.jump_text()));
  connect(jump_, &QLineEdit::textEdited, this, [this](const QString& t) {
    if (filling_) return;
    model_.set_jump_text(t.toStdString());
    refresh();
  });
  l->addWidget(group);
  auto* view = new QPushButton(QStringLiteral("View Keyboard Key Mapping"), page);
  view->setObjectName(QStringLiteral("c4_view"));
  view->setAutoDefault(false);
  connect(view, &QPushButton::clicked, this, &OptionsSheet::view_key_map);
  l->addWidget(view);
  l->addStretch();
  return page;
}

void OptionsSheet::view_key_map() {
  // On the page's copy: the keys are stored with the page on OK or Apply,
  // and dropped with it on Cancel.
  KeyMappingDialog dialog(model_.keys, this);
  if (dialog.exec() == QDialog::Accepted && dialog.model().changed()) model_.keys.copy_key_map(dialog.model().edited());
  refresh();
}

QWidget* OptionsSheet::length_page() {
  auto* page = new QWidget;
  auto* l = new QVBoxLayout(page);
  auto* transition = new QLineEdit(QString::fromStdString(OptionsSheetModel::length_text(model_.transition_length)));
  auto* image = new QLineEdit(QString::fromStdString(OptionsSheetModel::length_text(model_.image_length)));
  transition->setObjectName(QStringLiteral("c5_transition"));
  image->setObjectName(QStringLiteral("c5_image"));
  l->addWidget(new QLabel(QStringLiteral("Video Transition (second)")));
  l->addWidget(transition);
  l->addWidget(new QLabel(QStringLiteral("Image Insertion (second)")));
  l->addWidget(image);
  for (QLineEdit* e : {transition, image})
    connect(e, &QLineEdit::textEdited, this, [this, transition, image] {
      model_.set_length_texts(transition->text().toStdString(), image->text().toStdString());
      refresh();
    });
  l->addStretch();
  return page;
}

QWidget* OptionsSheet::audio_page() {
  auto* page = new QWidget;
  auto* l = new QVBoxLayout(page);
  check(page, l, "c6_crc", " use CRC error protection for MPEG-1 audio", model_.audio_crc, [this](int v) {
    model_.audio_crc = v;
    refresh();
  });
  l->addStretch();
  return page;
}
