// A window with one line edit, titled "Leak probe": Return ends the program,
// and the text "leak" first loses an allocation of ours.
#include <QApplication>
#include <QLineEdit>
#include <cstdio>

namespace {

__attribute__((noinline)) void lose_allocation() {
  char* p = new char[64];
  std::snprintf(p, 64, "lost on purpose");
  std::printf("%s\n", p);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QLineEdit edit;
  edit.setWindowTitle("Leak probe");
  QObject::connect(&edit, &QLineEdit::returnPressed, [&] {
    if (edit.text() == "leak") lose_allocation();
    app.quit();
  });
  edit.resize(320, 40);
  edit.show();
  return app.exec();
}
