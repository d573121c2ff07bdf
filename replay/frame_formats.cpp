#include "replay/frame_formats.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mr4 {
namespace {

bool ValidGeometry(const FrameGeometry& g) {
  if (!IsUsableFrameSize(g.width, g.height)) return false;
  switch (g.format) {
    case FrameFormat::kYuyv:
    case FrameFormat::kUyvy:
      return g.width % 2 == 0;  // whole pixel pairs
    case FrameFormat::kDib:
      return g.bytes_per_pixel >= 1 && g.bytes_per_pixel <= 4;
    case FrameFormat::kRgb24:
      return true;
  }
  return false;
}

int SourceBytesPerPixel(const FrameGeometry& g) {
  switch (g.format) {
    case FrameFormat::kYuyv:
    case FrameFormat::kUyvy:
      return 2;
    case FrameFormat::kDib:
      return g.bytes_per_pixel;
    case FrameFormat::kRgb24:
      return 3;
  }
  return 0;
}

// One destination row from a 4:2:2 source row. Both pixels of a pair share
// their chroma, so the chroma sum is formed once per pair. `y0`, `y1`, `u`,
// `v` are the byte positions within a pair.
template <int y0, int u, int y1, int v>
void Row422(const std::uint8_t* src, std::uint8_t* dst, int width,
            const YuvTables& t) {
  for (int j = 0; j < width; j += 2, src += 4) {
    const std::int32_t chroma = t.ug[src[u]] + t.vg[src[v]] + 32768;
    std::int32_t g0 = t.y[src[y0]] + chroma;
    std::int32_t g1 = t.y[src[y1]] + chroma;
    g0 = g0 < 0 ? 0 : (g0 > 0xFF0000 ? 0xFF0000 : g0);
    g1 = g1 < 0 ? 0 : (g1 > 0xFF0000 ? 0xFF0000 : g1);
    dst[j] = static_cast<std::uint8_t>(g0 >> 16);
    dst[j + 1] = static_cast<std::uint8_t>(g1 >> 16);
  }
}

#if defined(__SSE2__)
// The start-up tables hold trunc(s x (K + f) x n) for n = Y - 16, U - 128,
// V - 128, which is s x (K n + sign(n) x floor(|n| f)); floor(|n| f) is
// (|n| x F) >> 16 for every byte, and for luma just "Y >= 250". The vector
// path forms the same sums, split into 16-bit halves: the chroma sum C of a
// pair once, then per pixel green = high(C) + high(Ty) + carry of
// low(C) + low(Ty). Only valid for those tables; the exhaustive test over
// every (Y, U, V) shows the bytes are the table path's.
constexpr int kYK = 76309;               // 1.164383 x 65536
constexpr int kUK = 25674, kUF = 33712;  // 0.391762 x 65536
constexpr int kVK = 53278, kVF = 43962;  // 0.812968 x 65536
static_assert(kUK % 2 == 0 && kVK % 2 == 0 && kUF % 2 == 0 && kVF % 2 == 0);

// The per-pixel halves of the chroma sum Ug[u] + Vg[v] + 32768 of four
// pairs from their chroma bytes as 16-bit lanes u, v, u, v, ...: `high` is
// its upper half, `carry_above` its lower half turned into the biased
// threshold that a biased luma lower half must exceed to carry.
inline void ChromaHalves(__m128i uv, __m128i& high, __m128i& carry_above) {
  // n2 = 2n: the factors kUK / 2, kVK / 2 and F / 2 then fit 16 bits.
  const __m128i n2 = _mm_sub_epi16(_mm_add_epi16(uv, uv), _mm_set1_epi16(256));
  const __m128i sign = _mm_srai_epi16(n2, 15);
  // floor(n F / 65536) is sign(n) floor(|n| f) - 1 for negative n: n F is
  // never a multiple of 65536 here.
  const __m128i fix = _mm_sub_epi16(
      _mm_mulhi_epi16(n2, _mm_set1_epi32((kUF / 2) | ((kVF / 2) << 16))), sign);
  __m128i sum = _mm_madd_epi16(n2, _mm_set1_epi32((-kUK / 2 & 0xFFFF) | (-kVK / 2 << 16)));
  sum = _mm_sub_epi32(sum, _mm_madd_epi16(fix, _mm_set1_epi16(1)));
  sum = _mm_add_epi32(sum, _mm_set1_epi32(32768));
  high = _mm_shufflehi_epi16(_mm_shufflelo_epi16(sum, _MM_SHUFFLE(3, 3, 1, 1)),
                             _MM_SHUFFLE(3, 3, 1, 1));
  const __m128i low = _mm_shufflehi_epi16(_mm_shufflelo_epi16(sum, _MM_SHUFFLE(2, 2, 0, 0)),
                                          _MM_SHUFFLE(2, 2, 0, 0));
  // low(Ty) + low(C) >= 65536 <=> low(Ty) > ~low(C), unsigned; biased by
  // 0x8000 for the signed compare.
  carry_above = _mm_xor_si128(low, _mm_set1_epi16(0x7FFF));
}

// Eight greens as 16-bit lanes from eight luma bytes (16-bit lanes) and
// the chroma halves of their pairs. Ty = 65536 n + (kYK - 65536) n + [Y >=
// 250]; the low half never carries into the high one for these constants.
inline __m128i Greens(__m128i luma, __m128i chroma_high, __m128i carry_above) {
  const __m128i n = _mm_sub_epi16(luma, _mm_set1_epi16(16));
  const __m128i k = _mm_set1_epi16(kYK - 65536);
  const __m128i top = _mm_cmpgt_epi16(luma, _mm_set1_epi16(249));  // -1 from 250
  const __m128i low = _mm_xor_si128(_mm_sub_epi16(_mm_mullo_epi16(n, k), top),
                                    _mm_set1_epi16(static_cast<short>(0x8000)));
  const __m128i high = _mm_add_epi16(n, _mm_mulhi_epi16(n, k));
  const __m128i carry = _mm_cmpgt_epi16(low, carry_above);  // -1 on a carry
  return _mm_sub_epi16(_mm_add_epi16(high, chroma_high), carry);
}

// Row422 for the start-up tables; `luma_high` for UYVY (Y in the odd bytes).
template <bool luma_high>
void Row422Standard(const std::uint8_t* src, std::uint8_t* dst, int width,
                    const YuvTables& t) {
  const __m128i low = _mm_set1_epi16(0x00FF);
  int j = 0;
  for (; j + 16 <= width; j += 16, src += 32) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16));
    __m128i ya, yb, ca, cb;
    if (luma_high) {
      ya = _mm_srli_epi16(a, 8);
      yb = _mm_srli_epi16(b, 8);
      ca = _mm_and_si128(a, low);
      cb = _mm_and_si128(b, low);
    } else {
      ya = _mm_and_si128(a, low);
      yb = _mm_and_si128(b, low);
      ca = _mm_srli_epi16(a, 8);
      cb = _mm_srli_epi16(b, 8);
    }
    __m128i high_a, carry_a, high_b, carry_b;
    ChromaHalves(ca, high_a, carry_a);
    ChromaHalves(cb, high_b, carry_b);
    const __m128i ga = Greens(ya, high_a, carry_a);
    const __m128i gb = Greens(yb, high_b, carry_b);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + j), _mm_packus_epi16(ga, gb));
  }
  if (luma_high)
    Row422<1, 0, 3, 2>(src, dst + j, width - j, t);
  else
    Row422<0, 1, 2, 3>(src, dst + j, width - j, t);
}
#endif

// True when `t` holds the start-up tables (a 3 KB compare per call).
bool StandardTables(const YuvTables& t) {
  static const YuvTables standard = BuildYuvTables();
  return std::memcmp(&t, &standard, sizeof t) == 0;
}

// One 4:2:2 row; `standard` tables take the vector path where there is one.
template <bool uyvy>
void Row422Any(const std::uint8_t* src, std::uint8_t* dst, int width,
               const YuvTables& t, bool standard) {
#if defined(__SSE2__)
  if (standard) {
    Row422Standard<uyvy>(src, dst, width, t);
    return;
  }
#else
  (void)standard;
#endif
  if (uyvy)
    Row422<1, 0, 3, 2>(src, dst, width, t);
  else
    Row422<0, 1, 2, 3>(src, dst, width, t);
}

// One destination row taking byte `offset` of every `step`-byte pixel.
void RowPick(const std::uint8_t* src, std::uint8_t* dst, int width, int step,
             int offset) {
  src += offset;
  for (int j = 0; j < width; ++j, src += step) dst[j] = *src;
}

}  // namespace

std::int64_t FrameBytes(const FrameGeometry& geometry) {
  if (!ValidGeometry(geometry)) return 0;
  return std::int64_t{geometry.width} * geometry.height *
         SourceBytesPerPixel(geometry);
}

bool ToGreenPlane(const FrameGeometry& geometry,
                  std::span<const std::uint8_t> source, int row_begin,
                  int row_end, std::span<std::uint8_t> plane,
                  const YuvTables& tables) {
  const std::int64_t frame_bytes = FrameBytes(geometry);
  const int w = geometry.width;
  const int h = geometry.height;
  if (frame_bytes == 0 || row_begin < 0 || row_end > h ||
      row_begin > row_end ||
      static_cast<std::int64_t>(source.size()) < frame_bytes ||
      static_cast<std::int64_t>(plane.size()) < std::int64_t{w} * h) {
    return false;
  }
  const std::int64_t src_stride = std::int64_t{w} * SourceBytesPerPixel(geometry);
  const bool standard = (geometry.format == FrameFormat::kYuyv ||
                         geometry.format == FrameFormat::kUyvy) &&
                        StandardTables(tables);
  for (int r = row_begin; r < row_end; ++r) {
    std::uint8_t* dst = plane.data() + std::int64_t{r} * w;
    const std::uint8_t* top_down = source.data() + (h - 1 - r) * src_stride;
    switch (geometry.format) {
      case FrameFormat::kYuyv:
        Row422Any<false>(top_down, dst, w, tables, standard);
        break;
      case FrameFormat::kUyvy:
        Row422Any<true>(top_down, dst, w, tables, standard);
        break;
      case FrameFormat::kDib: {  // bottom-up source
        const std::uint8_t* src = source.data() + r * src_stride;
        if (geometry.bytes_per_pixel == 1) {
          std::memcpy(dst, src, static_cast<std::size_t>(w));
        } else {
          RowPick(src, dst, w, geometry.bytes_per_pixel, 1);
        }
        break;
      }
      case FrameFormat::kRgb24:  // as delivered, no flip
        RowPick(source.data() + r * src_stride, dst, w, 3, 1);
        break;
    }
  }
  return true;
}

}  // namespace mr4
