// QR codes of cards: the symbol (libqrencode) and its images, PNG (libpng,
// in memory) and SVG (one path).
#ifndef QVVCARD_SERVE_QR_HPP
#define QVVCARD_SERVE_QR_HPP

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvvcard {

// Error correction, from the lowest (about 7% of the symbol may be lost) to
// the highest (about 30%).
enum class QrLevel : std::uint8_t { L, M, Q, H };
char LevelLetter(QrLevel level);

struct QrCode {
  int version = 0;  // 1 to 40
  QrLevel level = QrLevel::L;
  int size = 0;                       // modules per side
  std::vector<std::uint8_t> modules;  // size * size, row by row; 1 is dark
  bool Dark(int x, int y) const { return modules[static_cast<std::size_t>(y * size + x)] != 0; }
};

// The most bytes a QR code holds (version 40 at level L, in byte mode).
inline constexpr std::size_t kQrMaxBytes = 2953;
// The light margin around the symbol, in modules.
inline constexpr int kQuietZone = 4;

// The symbol of data in byte mode: the smallest that holds it at the
// lowest error correction level, at the highest level that still fits that
// size (a small symbol scans more easily than a larger one with more
// correction); nullopt when it fits none. Throws std::bad_alloc.
std::optional<QrCode> EncodeQr(std::string_view data);

// A card (lines ending in CR LF) without its PRODID, REV and UID lines,
// which a scanner does not need, in any case and with their continuation
// lines.
std::string WithoutStamps(std::string_view card);

// Pixels per module in the PNG image: 8, fewer for large symbols so that
// the image stays at most kMaxPngPixels wide (never fewer than 2).
inline constexpr int kMaxPngPixels = 1200;
int PixelsPerModule(const QrCode& code);

// An 8-bit greyscale PNG with the quiet zone. Throws std::runtime_error.
std::string QrPng(const QrCode& code);
// An SVG image with the quiet zone: a white square and one path of the dark
// modules, one unit per module; width and height as the PNG's.
std::string QrSvg(const QrCode& code);

}  // namespace qvvcard

#endif
