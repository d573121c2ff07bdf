// mr4 groundmap: makes a ground-map base map (DAT file) from the shipped
// land polygons, rasterised in the gnomonic projection about the centre.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "astro/land_raster.h"
#include "base/shipped_data.h"
#include "cli/args.h"
#include "cli/commands.h"

namespace mr4::cli {
namespace {

namespace fs = std::filesystem;

int Failed(const CommandContext& context, const std::string& message,
           int status = kExitSomeFailed) {
  std::fprintf(stderr, "mr4 %s: %s; nothing was written\n", context.name.c_str(),
               message.c_str());
  return status;
}

// An option that cannot be used is a usage error, as for every command.
int Refused(const CommandContext& context, const std::string& message) {
  return Failed(context, message, kExitUsage);
}

// "WxH" with both parts whole numbers.
bool ParseSize(const std::string& text, int* width, int* height) {
  const std::size_t x = text.find('x');
  if (x == std::string::npos) return false;
  return ParseInt(text.substr(0, x), width) && ParseInt(text.substr(x + 1), height);
}

// Writes through a temporary file next to `path`, so that a failed write
// leaves no half-written map behind.
bool WriteFileBytes(const fs::path& path, const std::string& bytes, std::string* error) {
  const fs::path tmp = fs::path(path.string() + ".tmp");
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) {
      *error = "cannot write " + path.string();
      return false;
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::error_code ec;
      fs::remove(tmp, ec);
      *error = "cannot write " + path.string();
      return false;
    }
  }
  std::error_code ec;
  fs::rename(tmp, path, ec);
  if (ec) {
    fs::remove(tmp, ec);
    *error = "cannot write " + path.string();
    return false;
  }
  return true;
}

}  // namespace

int RunGroundMap(const CommandContext& context, std::span<const std::string> args) {
  for (const std::string& a : args) {
    if (a == "--render") return RenderGroundMap(context, args);
  }
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args,
                 {{"--center", OptionKind::kValue},
                  {"--half-field", OptionKind::kValue},
                  {"--size", OptionKind::kValue},
                  {"--out", OptionKind::kValue},
                  {"--land", OptionKind::kValue}},
                 &parsed, &error)) {
    return Refused(context, error);
  }
  if (!parsed.positionals().empty()) {
    return Refused(context, "unexpected argument '" + parsed.positionals()[0] + "'");
  }
  for (const char* required : {"--center", "--half-field", "--size", "--out"}) {
    if (!parsed.Has(required)) return Refused(context, std::string(required) + " is required");
  }

  BaseMapGeometry geometry;
  const std::vector<std::string> centre = SplitComma(*parsed.Value("--center"));
  if (centre.size() != 2 || !ParseDouble(centre[0], &geometry.lon0) ||
      !ParseDouble(centre[1], &geometry.lat0) || !std::isfinite(geometry.lon0) ||
      !std::isfinite(geometry.lat0) || geometry.lon0 < -180.0 || geometry.lon0 > 360.0 ||
      geometry.lat0 < -90.0 || geometry.lat0 > 90.0) {
    return Refused(context, "--center '" + *parsed.Value("--center") +
                               "' is not LNG,LAT in degrees (-180..360, -90..90)");
  }
  // The projection divides by the sine of the centre's colatitude.
  if (std::fabs(geometry.lat0) > 89.9) {
    return Refused(context, "--center: the latitude must lie within 89.9 degrees of the equator");
  }
  if (!ParseDouble(*parsed.Value("--half-field"), &geometry.half_field) ||
      !(geometry.half_field >= 0.01 && geometry.half_field <= kBaseMapMaxHalfField)) {
    return Refused(context, "--half-field '" + *parsed.Value("--half-field") +
                               "' is not a number of degrees in 0.01..80");
  }
  if (!ParseSize(*parsed.Value("--size"), &geometry.width, &geometry.height) ||
      geometry.width < 2 || geometry.width > kBaseMapMaxWidth || geometry.height < 1 ||
      geometry.height > kBaseMapMaxHeight) {
    return Refused(context, "--size '" + *parsed.Value("--size") +
                               "' is not WxH with W in 2..8192 and H in 1..4320 pixels");
  }
  geometry = StoredGeometry(geometry);

  fs::path land;
  if (parsed.Has("--land")) {
    land = *parsed.Value("--land");
  } else {
    const fs::path data = ShippedDataDirectory();
    if (data.empty()) {
      return Failed(context,
                    "the shipped data directory was not found (looked for ../share/mr4 "
                    "next to the program and the source tree's data/); give --land FILE");
    }
    land = data / kLandPolygonsFileName;
  }
  std::vector<LandRing> rings;
  if (!ReadLandPolygons(land, &rings, &error)) return Failed(context, error);

  const std::vector<std::uint8_t> pixels = RasteriseLand(geometry, rings);
  std::string bytes;
  if (!EncodeBaseMap(geometry, pixels, &bytes, &error)) return Failed(context, error);
  const fs::path out = *parsed.Value("--out");
  if (!WriteFileBytes(out, bytes, &error)) return Failed(context, error);

  long land_pixels = 0;
  for (const std::uint8_t v : pixels) land_pixels += v != 0;
  std::printf("%s: %dx%d, centre %.4f,%.4f, half field %.4f, %ld land pixels, %zu bytes\n",
              out.c_str(), geometry.width, geometry.height, geometry.lon0, geometry.lat0,
              geometry.half_field, land_pixels, bytes.size());
  return kExitOk;
}

}  // namespace mr4::cli
