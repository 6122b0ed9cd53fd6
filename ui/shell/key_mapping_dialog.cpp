#include "ui/shell/key_mapping_dialog.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// A command's key box: a typed letter or digit becomes its key, whatever
// the box held; other keys (Escape, Tab) go on to the dialog.
class KeyBox : public QLineEdit {
 public:
  KeyBox(KeyMappingModel* model, int code, QWidget* parent) : QLineEdit(parent), model_(model), code_(code) {
    setReadOnly(true);
    setText(QString::fromStdString(model_->key_text(code_)));
  }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    const QString t = event->text();
    if (t.size() != 1 || !t[0].isLetterOrNumber() || t[0].unicode() >= 128 ||
        (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
      QLineEdit::keyPressEvent(event);
      return;
    }
    model_->set_key(code_, char(t[0].unicode()));
    setText(QString::fromStdString(model_->key_text(code_)));
  }

 private:
  KeyMappingModel* model_;
  int code_;
};

}  // namespace

KeyMappingDialog::KeyMappingDialog(const EditorSettings& keys, QWidget* parent) : QDialog(parent), model_(keys) {
  setWindowTitle(QStringLiteral("Keyboard Key Mapping"));
  auto* grid = new QGridLayout;
  constexpr int kRows = 15;
  for (int i = 0; i < kKeyCount; ++i) {
    const int code = KeyMappingModel::kOrder[i];
    auto* edit = new KeyBox(&model_, code, this);
    edit->setObjectName(QStringLiteral("key%1").arg(code));
    edit->setFixedWidth(32);
    edit->setAlignment(Qt::AlignCenter);
    const int row = i % kRows, column = (i / kRows) * 2;
    grid->addWidget(new QLabel(QString::fromUtf8(key_command_label(code)), this), row, column);
    grid->addWidget(edit, row, column + 1);
  }
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(ok, 0, Qt::AlignRight);
}

void KeyMappingDialog::reject() {
  if (model_.may_discard()) QDialog::reject();
}
