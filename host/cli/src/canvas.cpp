#include "canvas.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <map>
#include <stdexcept>
#include <string>

namespace rmcli {

namespace {

// 5×7 glyphs, one byte per row, the leftmost pixel in bit 4.
struct Glyph {
  char character;
  std::array<uint8_t, 7> rows;
};

constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'k', {0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'z', {0x00, 0x00, 0x1F, 0x02, 0x04, 0x08, 0x1F}},
    {'s', {0x00, 0x00, 0x0F, 0x10, 0x0E, 0x01, 0x1E}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'d', {0x01, 0x01, 0x0D, 0x13, 0x11, 0x11, 0x0F}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
};

const Glyph* glyph(char c) {
  for (const Glyph& g : kFont)
    if (g.character == c) return &g;
  return nullptr;
}

constexpr int kAdvance = 6;  // glyph width plus one column of space

}  // namespace

Canvas::Canvas(int width, int height, Color background)
    : width_(width), height_(height), rgb_(static_cast<size_t>(width) * height * 3) {
  fill(0, 0, width, height, background);
}

Color Canvas::at(int x, int y) const {
  const size_t i = (static_cast<size_t>(y) * width_ + x) * 3;
  return {rgb_[i], rgb_[i + 1], rgb_[i + 2]};
}

void Canvas::set(int x, int y, Color color) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  const size_t i = (static_cast<size_t>(y) * width_ + x) * 3;
  rgb_[i] = color.r;
  rgb_[i + 1] = color.g;
  rgb_[i + 2] = color.b;
}

void Canvas::fill(int x, int y, int w, int h, Color color) {
  for (int row = std::max(y, 0); row < std::min(y + h, height_); ++row)
    for (int col = std::max(x, 0); col < std::min(x + w, width_); ++col) set(col, row, color);
}

void Canvas::vline(int x, int y0, int y1, Color color) {
  for (int y = std::min(y0, y1); y <= std::max(y0, y1); ++y) set(x, y, color);
}

void Canvas::hline(int x0, int x1, int y, Color color) {
  for (int x = std::min(x0, x1); x <= std::max(x0, x1); ++x) set(x, y, color);
}

void Canvas::text(int x, int y, std::string_view text, Color color, int scale) {
  for (char c : text) {
    if (const Glyph* g = glyph(c))
      for (int row = 0; row < 7; ++row)
        for (int col = 0; col < 5; ++col)
          if (g->rows[row] & (0x10 >> col))
            fill(x + col * scale, y + row * scale, scale, scale, color);
    x += kAdvance * scale;
  }
}

int Canvas::textWidth(std::string_view text, int scale) {
  return text.empty() ? 0 : (static_cast<int>(text.size()) * kAdvance - 1) * scale;
}

void Canvas::writePng(const std::filesystem::path& path) const {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width_);
  image.height = static_cast<png_uint_32>(height_);
  image.format = PNG_FORMAT_RGB;
  // A picture of at most 256 colours is written with a palette: the same pixels in a fraction of
  // the bytes. The palette lists the colours in the order they first appear.
  std::map<uint32_t, uint8_t> index;
  std::vector<uint8_t> palette, pixels;
  pixels.reserve(rgb_.size() / 3);
  for (size_t i = 0; i < rgb_.size() && index.size() <= 256; i += 3) {
    const uint32_t key = uint32_t{rgb_[i]} << 16 | uint32_t{rgb_[i + 1]} << 8 | rgb_[i + 2];
    const auto [entry, added] = index.emplace(key, static_cast<uint8_t>(index.size()));
    if (added) palette.insert(palette.end(), {rgb_[i], rgb_[i + 1], rgb_[i + 2]});
    pixels.push_back(entry->second);
  }
  const bool indexed = index.size() <= 256;
  if (indexed) {
    image.format = PNG_FORMAT_RGB_COLORMAP;
    image.colormap_entries = static_cast<png_uint_32>(index.size());
  }
  const bool written =
      indexed
          ? png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), width_, palette.data())
          : png_image_write_to_file(&image, path.c_str(), 0, rgb_.data(), width_ * 3, nullptr);
  if (!written) {
    const std::string message = image.message;
    png_image_free(&image);
    throw std::runtime_error("cannot write " + path.string() + ": " + message);
  }
}

}  // namespace rmcli
