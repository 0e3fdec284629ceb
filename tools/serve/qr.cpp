#include "serve/qr.hpp"

#include <png.h>
#include <qrencode.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <memory>
#include <new>
#include <stdexcept>
#include <system_error>

#include "common/text.hpp"

namespace qvvcard {

char LevelLetter(QrLevel level) {
  switch (level) {
    case QrLevel::L:
      return 'L';
    case QrLevel::M:
      return 'M';
    case QrLevel::Q:
      return 'Q';
    case QrLevel::H:
      return 'H';
  }
  return '?';
}

namespace {

struct QrcodeFree {
  void operator()(QRcode* code) const { QRcode_free(code); }
};

QRecLevel ToLibraryLevel(QrLevel level) {
  switch (level) {
    case QrLevel::L:
      return QR_ECLEVEL_L;
    case QrLevel::M:
      return QR_ECLEVEL_M;
    case QrLevel::Q:
      return QR_ECLEVEL_Q;
    case QrLevel::H:
      break;
  }
  return QR_ECLEVEL_H;
}

struct QrinputFree {
  void operator()(QRinput* input) const { QRinput_free(input); }
};

}  // namespace

namespace {

// The symbol of data at level, of the given version or (0) the smallest
// that holds it; nullopt when it does not fit.
std::optional<QrCode> Encode(std::string_view data, QrLevel level, int version) {
  // Byte mode carries no character set: readers guess one (some guess
  // Shift JIS), so text beyond ASCII says that it is UTF-8 (ECI 26).
  const bool declare_utf8 = !IsAscii(data);
  std::unique_ptr<QRinput, QrinputFree> input(QRinput_new2(version, ToLibraryLevel(level)));
  if (!input) throw std::bad_alloc();
  if ((declare_utf8 && QRinput_appendECIheader(input.get(), 26) != 0) ||
      QRinput_append(input.get(), QR_MODE_8, static_cast<int>(data.size()),
                     reinterpret_cast<const unsigned char*>(data.data())) != 0) {
    throw std::bad_alloc();
  }
  errno = 0;
  std::unique_ptr<QRcode, QrcodeFree> symbol(QRcode_encodeInput(input.get()));
  if (!symbol) {
    if (errno == ERANGE) return std::nullopt;  // too long at this level
    throw std::bad_alloc();
  }
  // A version given is the least the library uses: a larger symbol is no fit.
  if (version != 0 && symbol->version != version) return std::nullopt;
  QrCode code;
  code.version = symbol->version;
  code.level = level;
  code.size = symbol->width;
  const auto n = static_cast<std::size_t>(code.size) * static_cast<std::size_t>(code.size);
  code.modules.resize(n);
  // Bit 0 of each byte is the module's colour; the others say what the
  // module is part of.
  for (std::size_t i = 0; i < n; ++i) code.modules[i] = symbol->data[i] & 1;
  return code;
}

}  // namespace

std::optional<QrCode> EncodeQr(std::string_view data) {
  if (data.size() > kQrMaxBytes) return std::nullopt;
  std::optional<QrCode> smallest = Encode(data, QrLevel::L, 0);
  if (!smallest) return std::nullopt;
  for (const QrLevel level : {QrLevel::H, QrLevel::Q, QrLevel::M}) {
    if (auto code = Encode(data, level, smallest->version)) return code;
  }
  return smallest;
}

std::string WithoutStamps(std::string_view card) {
  std::string out;
  out.reserve(card.size());
  bool dropping = false;
  while (!card.empty()) {
    std::size_t end = card.find("\r\n");
    end = end == std::string_view::npos ? card.size() : end + 2;
    const std::string_view line = card.substr(0, end);
    card.remove_prefix(end);
    if (line.front() == ' ' || line.front() == '\t') {
      if (!dropping) out.append(line);
      continue;
    }
    const std::string_view name = line.substr(0, line.find_first_of(":;"));
    dropping = false;
    for (const std::string_view stamp : {"PRODID", "REV", "UID"}) {
      dropping =
          dropping || (name.size() == stamp.size() &&
                       std::equal(name.begin(), name.end(), stamp.begin(), [](char a, char b) {
                         return (a >= 'a' && a <= 'z' ? a - 32 : a) == b;
                       }));
    }
    if (!dropping) out.append(line);
  }
  return out;
}

int PixelsPerModule(const QrCode& code) {
  const int total = code.size + 2 * kQuietZone;
  int scale = kMaxPngPixels / total;
  if (scale > 8) scale = 8;
  if (scale < 2) scale = 2;
  return scale;
}

std::string QrPng(const QrCode& code) {
  const int scale = PixelsPerModule(code);
  const int side = (code.size + 2 * kQuietZone) * scale;
  const auto width = static_cast<std::size_t>(side);
  std::vector<unsigned char> pixels(width * width, 0xFF);
  for (int y = 0; y < code.size; ++y) {
    for (int x = 0; x < code.size; ++x) {
      if (!code.Dark(x, y)) continue;
      const auto px = static_cast<std::size_t>((x + kQuietZone) * scale);
      for (int dy = 0; dy < scale; ++dy) {
        const auto row = static_cast<std::size_t>((y + kQuietZone) * scale + dy);
        std::fill_n(pixels.begin() + static_cast<std::ptrdiff_t>(row * width + px), scale, 0);
      }
    }
  }

  // The simplified API writes to memory and reports errors by its return
  // value, without the long jumps of the classic one.
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(side);
  image.height = static_cast<png_uint_32>(side);
  image.format = PNG_FORMAT_GRAY;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(),
                                 static_cast<png_int_32>(side), nullptr)) {
    throw std::runtime_error(std::string("cannot make the PNG image: ") + image.message);
  }
  std::string png(size, '\0');
  if (!png_image_write_to_memory(&image, png.data(), &size, 0, pixels.data(),
                                 static_cast<png_int_32>(side), nullptr)) {
    throw std::runtime_error(std::string("cannot make the PNG image: ") + image.message);
  }
  png.resize(size);
  return png;
}

namespace {

void AppendNumber(std::string& out, int n) {
  char digits[16];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, n);
  out.append(digits, ec == std::errc() ? end : digits);
}

}  // namespace

std::string QrSvg(const QrCode& code) {
  const int total = code.size + 2 * kQuietZone;
  const int pixels = total * PixelsPerModule(code);
  std::string svg;
  svg.reserve(static_cast<std::size_t>(code.size) * static_cast<std::size_t>(code.size) + 256);
  svg.append("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"");
  AppendNumber(svg, pixels);
  svg.append("\" height=\"");
  AppendNumber(svg, pixels);
  svg.append("\" viewBox=\"0 0 ");
  AppendNumber(svg, total);
  svg.push_back(' ');
  AppendNumber(svg, total);
  svg.append("\" shape-rendering=\"crispEdges\"><path fill=\"#fff\" d=\"M0 0h");
  AppendNumber(svg, total);
  svg.push_back('v');
  AppendNumber(svg, total);
  svg.append("H0z\"/><path fill=\"#000\" d=\"");
  // Each run of dark modules in a row is one rectangle, one unit high.
  for (int y = 0; y < code.size; ++y) {
    int x = 0;
    while (x < code.size) {
      if (!code.Dark(x, y)) {
        ++x;
        continue;
      }
      int end = x;
      while (end < code.size && code.Dark(end, y)) ++end;
      svg.push_back('M');
      AppendNumber(svg, x + kQuietZone);
      svg.push_back(' ');
      AppendNumber(svg, y + kQuietZone);
      svg.push_back('h');
      AppendNumber(svg, end - x);
      svg.append("v1h-");
      AppendNumber(svg, end - x);
      svg.push_back('z');
      x = end;
    }
  }
  svg.append("\"/></svg>\n");
  return svg;
}

}  // namespace qvvcard
