#include "calib/star_catalogue.h"

#include <cstdio>
#include <cstring>

#include "base/error.h"
#include "calib/camera_model.h"

namespace mr4 {

StarCatalogue& StarMap() {
  static StarCatalogue catalogue;
  return catalogue;
}

bool LoadStarCatalogue(const std::filesystem::path& file,
                       StarCatalogue& catalogue) {
  std::FILE* in = std::fopen(file.c_str(), "rb");
  if (!in) {
    ShowError("Cannnot load Star Map .... abort");
    return false;
  }
  catalogue = StarCatalogue{};
  catalogue.ra.reserve(kStarCatalogueCapacity);
  catalogue.dec.reserve(kStarCatalogueCapacity);
  catalogue.vmag.reserve(kStarCatalogueCapacity);
  catalogue.colour.reserve(kStarCatalogueCapacity);

  char line[kStarCatalogueLineMaxChars + 1];
  bool header = true;
  while (catalogue.count < kStarCatalogueCapacity &&
         std::fgets(line, sizeof line, in)) {
    if (header) {
      // The header may be longer than one piece: skip to its end.
      header = std::strchr(line, '\n') == nullptr;
      continue;
    }
    float ra = 0, dec = 0, vmag = 0, colour = 0;
    if (std::sscanf(line, "%f,%f,%f,%f", &ra, &dec, &vmag, &colour) != 4) {
      continue;
    }
    catalogue.ra.push_back(ra);
    catalogue.dec.push_back(dec);
    catalogue.vmag.push_back(vmag);
    catalogue.colour.push_back(colour);
    ++catalogue.count;
  }
  std::fclose(in);
  return true;
}

float EffectiveMagnitude(const StarCatalogue& catalogue,
                         const CameraProfile& profile, int index) {
  return profile.p_u4_bvf * catalogue.colour[index] + catalogue.vmag[index];
}

HorizontalPoint StarDirection(const StarCatalogue& catalogue,
                              const CameraProfile& profile, int index) {
  return EquatorialToHorizontal(profile.ClipMjdTt, profile.ClipLst,
                                profile.p_lat, catalogue.ra[index],
                                catalogue.dec[index]);
}

int BuildVisibleStars(const StarCatalogue& catalogue,
                      const CameraProfile& profile, VisibleStars& visible) {
  visible.entries.clear();
  visible.entries.reserve(kStarCatalogueCapacity);
  for (int i = 0; i < catalogue.count; ++i) {
    const float mag = EffectiveMagnitude(catalogue, profile, i);
    if (mag > profile.p_u4_refmag) continue;
    const HorizontalPoint sky = StarDirection(catalogue, profile, i);
    if (!HorizontalToPixel(profile, sky.az, sky.ev).inside) continue;
    visible.entries.push_back({i, catalogue.ra[i], catalogue.dec[i], mag});
  }
  return static_cast<int>(visible.entries.size());
}

void RefreshVisibleStars(const CameraProfile& profile, VisibleStars& visible,
                         const StarMarkerFn& draw) {
  for (VisibleStar& star : visible.entries) {
    if (star.mag > profile.p_u4_refmag) continue;
    if (star.index < 0) star.index = ~star.index;
    const HorizontalPoint sky = EquatorialToHorizontal(
        profile.ClipMjdTt, profile.ClipLst, profile.p_lat, star.ra, star.dec);
    const PixelPosition pixel = HorizontalToPixel(profile, sky.az, sky.ev);
    if (pixel.inside) {
      if (draw) draw(pixel.x, pixel.y, star.mag);
    } else {
      star.index = ~star.index;
    }
  }
}

}  // namespace mr4
