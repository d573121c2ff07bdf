#include "maps/ground_map.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "app/settings.h"
#include "astro/angles.h"
#include "base/error.h"
#include "base/process_values.h"

namespace mr4 {

GroundRaster& GroundMap() {
  static GroundRaster raster;
  return raster;
}

std::vector<AddMapMark>& AddMapMarks() {
  static std::vector<AddMapMark> marks;
  return marks;
}

namespace {

// Decodes one row from `data[0, size)` into `row` (`width` values): the
// number of bytes the row took, or -1 for a run past the row's end, a row
// of kGroundMapMaxRowBytes bytes or more, or data that ends inside the row.
int DecodeRow(const std::uint8_t* data, std::size_t size, int width,
              std::uint8_t* row) {
  const std::size_t limit = kGroundMapMaxRowBytes - 1;
  const std::size_t window = size < limit ? size : limit;
  std::size_t used = 0;
  int x = 0;
  while (x < width) {
    if (used >= window) return -1;
    const std::uint8_t b = data[used++];
    int length = (b & 7) + 1;
    if (b & 8) {
      if (used >= window) return -1;
      length = (b & 7) * 256 + data[used++] + 1;
    }
    if (x + length > width) return -1;
    std::memset(row + x, b >> 4, static_cast<std::size_t>(length));
    x += length;
  }
  return static_cast<int>(used);
}

}  // namespace

int LoadGroundMap(const std::filesystem::path& path, GroundRaster& raster) {
  raster = GroundRaster{};
  const std::string name = path.string();
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ShowError("Cannot Open GroundMap %s", name.c_str());
    return 0;
  }
  char head[8192];
  in.read(head, sizeof head);
  const std::size_t got = static_cast<std::size_t>(in.gcount());
  const void* zero = std::memchr(head, 0, got);
  if (zero == nullptr ||
      static_cast<const char*>(zero) - head != kGroundMapHeaderChars) {
    ShowError("GroundMap Broken header %s", name.c_str());
    return 0;
  }
  int w = 0, h = 0, lon = 0, lat = 0, half = 0, unused[3];
  if (std::sscanf(head, "Tessarox%8d,%8d,%8d,%8d,%8d,%8d,%8d,%8d", &w, &h, &lon,
                  &lat, &half, &unused[0], &unused[1], &unused[2]) != 8 ||
      half <= 0 || half >= 900000) {
    // A header that does not read, or a half field without a tangent.
    ShowError("GroundMap Broken header %s", name.c_str());
    return 0;
  }
  if (w > kGroundMapMaxWidth || h > kGroundMapMaxHeight || w <= 0 || h <= 0) {
    ShowError("GroundMap Broken CX,CY %s", name.c_str());
    return 0;
  }

  // Only the bytes the rows may use are kept.
  const std::size_t most = std::size_t(h) * kGroundMapMaxRowBytes;
  std::vector<std::uint8_t> data;
  in.clear();
  in.seekg(kGroundMapDataOffset);
  data.resize(most);
  in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(most));
  data.resize(static_cast<std::size_t>(in.gcount()));

  std::vector<std::uint8_t> pixels(std::size_t(w) * h, 0);
  std::size_t pos = 0;
  for (int y = 0; y < h; ++y) {
    const int used = DecodeRow(data.data() + pos, data.size() - pos, w,
                               pixels.data() + std::size_t(y) * w);
    if (used < 0) return 0;
    pos += static_cast<std::size_t>(used);
  }
  raster.width = w;
  raster.height = h;
  raster.lon0 = lon / 10000.0;
  raster.lat0 = lat / 10000.0;
  raster.half_field = half / 10000.0;
  raster.scale = GroundMapScale(w, raster.half_field);
  raster.pixels = std::move(pixels);
  return 1;
}

int LoadGroundMap(const std::filesystem::path& path) {
  return LoadGroundMap(path, GroundMap());
}

int ChooseGroundMap(const std::filesystem::path& path) {
  const int loaded = LoadGroundMap(path);
  if (loaded) {
    Settings& s = AppSettings();
    // A map in the home directory is kept by its name, as the shipped one.
    std::error_code ec;
    const bool in_home = std::filesystem::equivalent(path.parent_path(), App().home, ec);
    s.g_map = in_home ? path.filename().string() : path.string();
    s.g_ofh = 0.0f;
    s.g_ofv = 0.0f;
  }
  return loaded;
}

int LoadAddMap(const std::filesystem::path& path, std::vector<AddMapMark>& marks) {
  marks.clear();
  std::ifstream in(path);
  if (!in) {
    ShowError("Cannot Open Add Map %s", path.string().c_str());
    return 0;
  }
  std::string line;
  for (int n = 0; n < kAddMapMaxLines && std::getline(in, line); ++n) {
    if (line.size() > std::size_t(kAddMapMaxLineChars)) line.resize(kAddMapMaxLineChars);
    if (line.size() < 5 || line.compare(0, 4, "MA01") != 0) continue;
    AddMapMark mark;
    float lon = 0.0f, lat = 0.0f;
    if (std::sscanf(line.c_str() + 5, "%d,%f,%f", &mark.type, &lon, &lat) != 3) continue;
    mark.lon = lon;
    mark.lat = lat;
    marks.push_back(mark);
  }
  return 1;
}

int LoadAddMap(const std::filesystem::path& path) {
  return LoadAddMap(path, AddMapMarks());
}

}  // namespace mr4
