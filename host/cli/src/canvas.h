// An RGB picture to draw on, with a small bitmap font for axis labels, saved as PNG by libpng.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

namespace rmcli {

struct Color {
  uint8_t r = 0;
  uint8_t g = 0;
  uint8_t b = 0;
};

class Canvas {
 public:
  Canvas(int width, int height, Color background);

  int width() const { return width_; }
  int height() const { return height_; }
  Color at(int x, int y) const;

  // Drawing ignores the parts that fall outside the picture.
  void set(int x, int y, Color color);
  void fill(int x, int y, int w, int h, Color color);
  void vline(int x, int y0, int y1, Color color);  // y0..y1 inclusive, either order
  void hline(int x0, int x1, int y, Color color);

  // Text in the built-in 5×7 font (digits, '.', '-', and the letters k H z s L R d B), each
  // font pixel drawn as scale × scale; other characters leave a blank. (x, y) is the top left.
  void text(int x, int y, std::string_view text, Color color, int scale);
  static int textWidth(std::string_view text, int scale);
  static int textHeight(int scale) { return 7 * scale; }

  // Throws std::runtime_error.
  void writePng(const std::filesystem::path& path) const;

 private:
  int width_;
  int height_;
  std::vector<uint8_t> rgb_;
};

}  // namespace rmcli
