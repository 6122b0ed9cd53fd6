// A text that behaves as a link: underlined in the link colour, the hand
// cursor, and a click asks the desktop to open its target. Once any link
// of the program has been opened, every link shows the visited colour.
#pragma once

#include <QLabel>
#include <string>

class HyperLinkStatic : public QLabel {
  Q_OBJECT

 public:
  static constexpr QRgb kUnvisited = 0x0000ff;
  static constexpr QRgb kVisited = 0x800080;

  explicit HyperLinkStatic(const QString& text = {}, QWidget* parent = nullptr);
  // What a click opens; when empty, the text itself.
  void set_target(const std::string& target) { target_ = target; }
  const std::string& target() const { return target_; }
  // Opens the target; false (after a beep) when nothing could.
  bool open();
  // The colour the text is drawn in now.
  QColor link_colour() const;
  static bool visited();
  // Tests start from an unvisited program.
  static void reset_visited();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  std::string target_;
};
