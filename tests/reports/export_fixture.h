// Shared set-up of the export tests: empty clip and object tables, a
// leap-second list, a scripted Ui that records the messages, a scratch
// output folder, and builders of hand-made clip and object rows.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/process_values.h"
#include "platform/scripted_ui.h"
#include "tables/table_catalogue.h"
#include "tests/support/temp_files.h"

namespace mr4::test {

// A clip row: local start time, zone, site and the capture values the
// exports read; everything else zero.
struct ClipSpec {
  const char* name;
  int y, mo, d, h, m;
  float s;
  int tz = 32400;
  const char* lid = "Tokyo";
  const char* sid = "TK1";
};

// An object row; the measurements an export prints, the rest zero.
struct ObjectSpec {
  int clip;  // CLIP row (`cline`)
  const char* cls;
  float mag = 0.0f;
  float sec = 0.0f;
  float av1 = 0.0f;
  float az1 = 0.0f, ev1 = 0.0f, ra1 = 0.0f, dc1 = 0.0f;
  float az2 = 0.0f, ev2 = 0.0f, ra2 = 0.0f, dc2 = 0.0f;
};

// The lines of a text with CR LF line ends (false in `crlf` when a line
// ends otherwise).
inline std::vector<std::string> Lines(const std::string& text, bool* crlf) {
  std::vector<std::string> lines;
  *crlf = true;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) {
      *crlf = false;
      end = text.size();
    }
    std::string line = text.substr(at, end - at);
    if (line.empty() || line.back() != '\r') {
      *crlf = false;
    } else {
      line.pop_back();
    }
    lines.push_back(line);
    at = end + 1;
  }
  return lines;
}

class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const LeapSecondRow rows[] = {{2017, 1, 1, 37, 0.0f}};
    App().leap_seconds = BuildLeapSecondList(rows);
    Tables().clip.Clear();
    Tables().obj.Clear();
  }
  void TearDown() override {
    Tables().clip.Clear();
    Tables().obj.Clear();
  }

  static int AddClip(const ClipSpec& c) {
    Table& clips = Tables().clip;
    const int r = clips.AppendRow();
    clips.SetText(r, clip::kClipName, c.name);
    clips.SetInt(r, clip::kY, c.y);
    clips.SetInt(r, clip::kMo, c.mo);
    clips.SetInt(r, clip::kD, c.d);
    clips.SetInt(r, clip::kH, c.h);
    clips.SetInt(r, clip::kM, c.m);
    clips.SetFloat(r, clip::kS, c.s);
    clips.SetInt(r, clip::kTz, c.tz);
    clips.SetText(r, clip::kLid, c.lid);
    clips.SetText(r, clip::kSid, c.sid);
    clips.SetInt(r, clip::kOline, -1);
    return r;
  }

  // Appends the object and links it at the end of its clip's chain.
  static int AddObject(const ObjectSpec& o) {
    Table& objects = Tables().obj;
    Table& clips = Tables().clip;
    const int r = objects.AppendRow();
    objects.SetText(r, obj::kClass, o.cls);
    objects.SetFloat(r, obj::kMag, o.mag);
    objects.SetFloat(r, obj::kSec, o.sec);
    objects.SetFloat(r, obj::kAv1, o.av1);
    objects.SetFloat(r, obj::kAz1, o.az1);
    objects.SetFloat(r, obj::kEv1, o.ev1);
    objects.SetFloat(r, obj::kRa1, o.ra1);
    objects.SetFloat(r, obj::kDc1, o.dc1);
    objects.SetFloat(r, obj::kAz2, o.az2);
    objects.SetFloat(r, obj::kEv2, o.ev2);
    objects.SetFloat(r, obj::kRa2, o.ra2);
    objects.SetFloat(r, obj::kDc2, o.dc2);
    objects.SetInt(r, obj::kCline, o.clip);
    objects.SetInt(r, obj::kOlinenext, -1);
    if (o.clip >= 0 && o.clip < clips.count() && clips.Exists(o.clip)) {
      int last = clips.Int(o.clip, clip::kOline);
      if (last < 0) {
        clips.SetInt(o.clip, clip::kOline, r);
      } else {
        while (objects.Int(last, obj::kOlinenext) >= 0) last = objects.Int(last, obj::kOlinenext);
        objects.SetInt(last, obj::kOlinenext, r);
      }
    }
    return r;
  }

  TempDir out_{"mr4-exports"};
  ScriptedUi ui_;
  ScopedUi scoped_ui_{ui_};
};

}  // namespace mr4::test
