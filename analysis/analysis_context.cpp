#include "analysis/analysis_context.h"

#include <sys/mman.h>

#include <utility>

#include "base/error.h"
#include "calib/camera_profile.h"

namespace mr4 {

ZeroPages::ZeroPages(std::size_t bytes) : bytes_(bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) FatalError("analysis context: no memory for %zu bytes", bytes);
  data_ = p;
}

ZeroPages::~ZeroPages() {
  if (data_) munmap(data_, bytes_);
}

ZeroPages::ZeroPages(ZeroPages&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      bytes_(std::exchange(other.bytes_, 0)) {}

ZeroPages& ZeroPages::operator=(ZeroPages&& other) noexcept {
  if (this != &other) {
    if (data_) munmap(data_, bytes_);
    data_ = std::exchange(other.data_, nullptr);
    bytes_ = std::exchange(other.bytes_, 0);
  }
  return *this;
}

AnalysisContext& AnalysisContextAt(int number) {
  static AnalysisContext contexts[kContextCount] = {AnalysisContext(CurrentProfile())};
  if (number < 0 || number >= kContextCount)
    FatalError("analysis context %d does not exist", number);
  contexts[number].number = number;
  return contexts[number];
}

void AllocateAnalysisContext(AnalysisContext& c, int workers) {
  if (c.current) return;
  const std::size_t n = static_cast<std::size_t>(kMaxFramePixels);
  c.luma_a = ZeroPages(n);
  c.luma_b = ZeroPages(n);
  c.difference_image = ZeroPages(n);
  c.mask_image = ZeroPages(n);
  c.marker_image = ZeroPages(n);
  c.background_image = ZeroPages(n * sizeof(float));
  c.label_image = ZeroPages(n * 2);
  c.link_x_image = ZeroPages(n * 2);
  c.link_y_image = ZeroPages(n * 2);
  c.raw_frame = ZeroPages(n * 4 + 520);
  c.region_store = ZeroPages((kMaxRegions + 1) * sizeof(RegionStats));
  c.detection_store =
      ZeroPages(std::size_t(kMaxFields) * kDetectionsPerField * sizeof(Detection));
  c.track_store = ZeroPages(kTrackSlots * sizeof(Track));
  c.current = static_cast<std::uint8_t*>(c.luma_a.data());
  c.previous = static_cast<std::uint8_t*>(c.luma_b.data());
  c.difference = static_cast<std::uint8_t*>(c.difference_image.data());
  c.mask = static_cast<std::uint8_t*>(c.mask_image.data());
  c.marker = static_cast<std::uint8_t*>(c.marker_image.data());
  c.background = static_cast<float*>(c.background_image.data());
  c.label = static_cast<std::uint16_t*>(c.label_image.data());
  c.link_x = static_cast<std::uint16_t*>(c.link_x_image.data());
  c.link_y = static_cast<std::uint16_t*>(c.link_y_image.data());
  c.raw = static_cast<std::uint8_t*>(c.raw_frame.data());
  c.regions = static_cast<RegionStats*>(c.region_store.data());
  // Zero pages are valid records: every field of Detection and Track is
  // arithmetic, and zero is a defined value for each.
  c.detections = static_cast<Detection*>(c.detection_store.data());
  c.tracks = static_cast<Track*>(c.track_store.data());
  c.pool = std::make_unique<BandPool>(workers);
}

void AllocateParallelContexts(int count) {
  for (int i = 1; i <= count && i < kContextCount; ++i)
    AllocateAnalysisContext(AnalysisContextAt(i));
}

}  // namespace mr4
