// A small synthetic star field for the calibration tests and benchmarks: a
// catalogue of stars spread evenly over the sphere, a camera profile at a
// fixed clip instant, and a mask image with each visible star drawn as a
// small blob of candidate pixels (blue 240, brightness in green).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "calib/camera_profile.h"
#include "calib/star_catalogue.h"

namespace mr4::testing {

// `count` stars at pseudo-random places (fixed by `seed`), V from 0 to
// `faintest`, colour index 0..1.
StarCatalogue MakeUniformCatalogue(int count, float faintest, std::uint32_t seed);

// A 720 x 480, 56 deg camera at latitude 35 looking south-east at 45 deg,
// lens k3 0.06 and k2 -0.03, with its clip instant and distortion table
// computed.
CameraProfile MakeSkyProfile();

// Recomputes the derived values after a change of the profile's fields.
void Refresh(CameraProfile& profile);

// The mask image (W x H blue-green-red, bottom-up) of every catalogue star
// not fainter than `faintest` (effective magnitude) that `truth` puts at
// least 10 px inside the frame and 16 px from any other. Background: blue 4, green 2.
std::vector<std::uint8_t> RenderMask(const StarCatalogue& catalogue,
                                     const CameraProfile& truth, float faintest,
                                     int* drawn = nullptr);

// The largest angle [deg] between the directions two profiles see at the
// pixels (x, y) for every x of `xs` and y of `ys` [px].
double WorstDirectionErrorDeg(const CameraProfile& a, const CameraProfile& b,
                              std::span<const double> xs,
                              std::span<const double> ys);

}  // namespace mr4::testing
