// The least a Qt 6 Widgets program does to show a main window: the
// start-up that bench/ui_open.sh measures tamsel's against.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QMainWindow window;
  window.setWindowTitle("Bare window");
  window.resize(800, 500);
  window.show();
  return app.exec();
}
