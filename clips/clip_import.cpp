#include "clips/clip_import.h"

#include <gst/gst.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <system_error>
#include <vector>

#include "clips/capture_record_writer.h"
#include "platform/file_replace.h"

namespace mr4 {
namespace fs = std::filesystem;
namespace {

std::uint32_t U32(const std::vector<char>& b, std::size_t at) {
  if (at + 4 > b.size()) return 0;
  return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

bool Tag(const std::vector<char>& b, std::size_t at, const char* tag) {
  return at + 4 <= b.size() && std::string_view(&b[at], 4) == tag;
}

std::string Fmt(const char* format, double v) {
  char text[64];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

bool IsAvi(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  char head[12] = {};
  in.read(head, sizeof head);
  return in && std::string_view(head, 4) == "RIFF" && std::string_view(head + 8, 4) == "AVI ";
}

struct RemuxState {
  GstElement* pipeline = nullptr;
  GstElement* mux = nullptr;
  std::string refused;  // the caps of a video stream avimux does not take
  bool video = false;
};

// Links `pad` into avimux through a new parser `factory`.
bool LinkThroughParser(RemuxState* state, GstPad* pad, const char* factory) {
  GstElement* parser = gst_element_factory_make(factory, nullptr);
  if (!parser) return false;
  gst_bin_add(GST_BIN(state->pipeline), parser);
  gst_element_sync_state_with_parent(parser);
  GstPad* in = gst_element_get_static_pad(parser, "sink");
  const bool linked = gst_pad_link(pad, in) == GST_PAD_LINK_OK &&
                      gst_element_link(parser, state->mux);
  gst_object_unref(in);
  return linked;
}

// A parsed stream of the source: into avimux when it takes it; audio it
// does not take is dropped, video it does not take ends the remux.
void OnParsedPad(GstElement*, GstPad* pad, gpointer data) {
  auto* state = static_cast<RemuxState*>(data);
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (!caps) caps = gst_pad_query_caps(pad, nullptr);
  const GstStructure* s = gst_caps_get_structure(caps, 0);
  const std::string media = s ? gst_structure_get_name(s) : "";
  const bool is_video = media.rfind("video/", 0) == 0 || media.rfind("image/", 0) == 0;
  // Any caps the parser can give (an H.264 parser converts to the byte
  // stream avimux takes), not only those it has now.
  GstPad* sink = gst_element_get_compatible_pad(state->mux, pad, nullptr);
  if (sink && gst_pad_link(pad, sink) == GST_PAD_LINK_OK) {
    if (is_video) state->video = true;
  } else if (media == "video/x-h264" && LinkThroughParser(state, pad, "h264parse")) {
    // avimux takes H.264 as a byte stream only: a parser of its own converts
    // the stream form of MP4 and Matroska.
    state->video = true;
  } else if (is_video) {
    if (state->refused.empty()) state->refused = media;
    GST_ELEMENT_ERROR(state->mux, STREAM, FORMAT, ("avimux takes no %s", media.c_str()),
                      (nullptr));
  } else {
    GstElement* drop = gst_element_factory_make("fakesink", nullptr);
    gst_bin_add(GST_BIN(state->pipeline), drop);
    gst_element_sync_state_with_parent(drop);
    GstPad* drop_pad = gst_element_get_static_pad(drop, "sink");
    gst_pad_link(pad, drop_pad);
    gst_object_unref(drop_pad);
  }
  if (sink) gst_object_unref(sink);
  gst_caps_unref(caps);
}

// Remuxes `source` into the AVI `target`. Returns kOk, or kCannotRemux /
// kFailed with `error`.
ImportStatus Remux(const fs::path& source, const fs::path& target, std::string* error) {
  gst_init(nullptr, nullptr);
  RemuxState state;
  state.pipeline = gst_pipeline_new("import");
  GstElement* src = gst_element_factory_make("filesrc", nullptr);
  GstElement* parse = gst_element_factory_make("parsebin", nullptr);
  state.mux = gst_element_factory_make("avimux", nullptr);
  GstElement* sink = gst_element_factory_make("filesink", nullptr);
  if (!src || !parse || !state.mux || !sink) {
    for (GstElement* e : {src, parse, state.mux, sink}) {
      if (e) gst_object_unref(e);
    }
    gst_object_unref(state.pipeline);
    *error = "cannot be remuxed: GStreamer lacks filesrc, parsebin, avimux or filesink";
    return ImportStatus::kCannotRemux;
  }
  g_object_set(src, "location", source.c_str(), nullptr);
  g_object_set(sink, "location", target.c_str(), nullptr);
  gst_bin_add_many(GST_BIN(state.pipeline), src, parse, state.mux, sink, nullptr);
  gst_element_link(src, parse);
  gst_element_link(state.mux, sink);
  g_signal_connect(parse, "pad-added", G_CALLBACK(OnParsedPad), &state);

  ImportStatus status = ImportStatus::kOk;
  if (gst_element_set_state(state.pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    status = ImportStatus::kFailed;
    *error = "cannot start the remux pipeline";
  } else {
    GstBus* bus = gst_element_get_bus(state.pipeline);
    GstMessage* msg = gst_bus_timed_pop_filtered(
        bus, GST_CLOCK_TIME_NONE,
        static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS));
    if (msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
      GError* err = nullptr;
      gst_message_parse_error(msg, &err, nullptr);
      const std::string text = err ? err->message : "GStreamer error";
      if (err) g_error_free(err);
      status = ImportStatus::kCannotRemux;
      *error = state.refused.empty()
                   ? "cannot be remuxed: " + text
                   : "cannot be remuxed: avimux takes no " + state.refused +
                         " video (the clip model reads .avi and .wmv videos only)";
    } else if (!state.video) {
      status = ImportStatus::kCannotRemux;
      *error = "cannot be remuxed: no video stream was found";
    }
    if (msg) gst_message_unref(msg);
    gst_object_unref(bus);
  }
  gst_element_set_state(state.pipeline, GST_STATE_NULL);
  gst_object_unref(state.pipeline);
  return status;
}

// FLV1 (Sorenson H.263) video, which avimux does not take, goes into an AVI
// of compressed chunks written here: the frames as flvdemux gives them, one
// "00dc" chunk each, with the key frames flagged in the index. GStreamer's
// AVI demuxer maps the FourCC "FLV1" back to this video.
struct FlvFrames {
  GstElement* pipeline = nullptr;
  std::vector<std::vector<char>> frames;
  std::vector<bool> key;
  std::string media;  // the video's caps name
  int width = 0, height = 0, fps_n = 0, fps_d = 0, flv_version = 0;
};

void OnFlvFrame(GstElement*, GstBuffer* buffer, GstPad*, gpointer data) {
  auto* f = static_cast<FlvFrames*>(data);
  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return;
  f->frames.emplace_back(reinterpret_cast<const char*>(map.data),
                         reinterpret_cast<const char*>(map.data) + map.size);
  f->key.push_back(!GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT));
  gst_buffer_unmap(buffer, &map);
}

void OnFlvPad(GstElement*, GstPad* pad, gpointer data) {
  auto* f = static_cast<FlvFrames*>(data);
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (!caps) caps = gst_pad_query_caps(pad, nullptr);
  const GstStructure* s = gst_caps_get_structure(caps, 0);
  const std::string media = s ? gst_structure_get_name(s) : "";
  GstElement* sink = gst_element_factory_make("fakesink", nullptr);
  gst_bin_add(GST_BIN(f->pipeline), sink);
  if (media.rfind("video/", 0) == 0 && f->media.empty()) {
    f->media = media;
    gst_structure_get_int(s, "width", &f->width);
    gst_structure_get_int(s, "height", &f->height);
    gst_structure_get_int(s, "flvversion", &f->flv_version);
    gst_structure_get_fraction(s, "framerate", &f->fps_n, &f->fps_d);
    g_object_set(sink, "signal-handoffs", TRUE, "sync", FALSE, nullptr);
    g_signal_connect(sink, "handoff", G_CALLBACK(OnFlvFrame), f);
  } else {
    g_object_set(sink, "sync", FALSE, nullptr);
  }
  gst_element_sync_state_with_parent(sink);
  GstPad* in = gst_element_get_static_pad(sink, "sink");
  gst_pad_link(pad, in);
  gst_object_unref(in);
  gst_caps_unref(caps);
}

void PutU32(std::string* out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
void PutU16(std::string* out, std::uint16_t v) {
  out->push_back(static_cast<char>(v & 0xff));
  out->push_back(static_cast<char>(v >> 8));
}
void PutTag(std::string* out, const char* tag) { out->append(tag, 4); }
void SetU32(std::string* out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) (*out)[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

// The AVI file of `f`'s frames (one video stream, FourCC FLV1).
std::string FlvAvi(const FlvFrames& f) {
  const auto n = static_cast<std::uint32_t>(f.frames.size());
  std::uint32_t largest = 0;
  for (const auto& frame : f.frames) largest = std::max(largest, std::uint32_t(frame.size()));
  const auto w = static_cast<std::uint32_t>(f.width), h = static_cast<std::uint32_t>(f.height);
  std::string a;
  PutTag(&a, "RIFF");
  PutU32(&a, 0);  // set at the end
  PutTag(&a, "AVI ");
  PutTag(&a, "LIST");
  PutU32(&a, 4 + 8 + 56 + 8 + 4 + 8 + 56 + 8 + 40);
  PutTag(&a, "hdrl");
  PutTag(&a, "avih");
  PutU32(&a, 56);
  PutU32(&a, static_cast<std::uint32_t>(std::llround(1e6 * f.fps_d / f.fps_n)));
  PutU32(&a, 0);           // max bytes per second
  PutU32(&a, 0);           // padding granularity
  PutU32(&a, 0x10);        // has an index
  PutU32(&a, n);
  PutU32(&a, 0);           // initial frames
  PutU32(&a, 1);           // streams
  PutU32(&a, largest);
  PutU32(&a, w);
  PutU32(&a, h);
  for (int i = 0; i < 4; ++i) PutU32(&a, 0);
  PutTag(&a, "LIST");
  PutU32(&a, 4 + 8 + 56 + 8 + 40);
  PutTag(&a, "strl");
  PutTag(&a, "strh");
  PutU32(&a, 56);
  PutTag(&a, "vids");
  PutTag(&a, "FLV1");
  PutU32(&a, 0);           // flags
  PutU16(&a, 0);           // priority
  PutU16(&a, 0);           // language
  PutU32(&a, 0);           // initial frames
  PutU32(&a, static_cast<std::uint32_t>(f.fps_d));
  PutU32(&a, static_cast<std::uint32_t>(f.fps_n));
  PutU32(&a, 0);           // start
  PutU32(&a, n);
  PutU32(&a, largest);
  PutU32(&a, 0xffffffffu); // quality: default
  PutU32(&a, 0);           // sample size: varies
  PutU16(&a, 0);
  PutU16(&a, 0);
  PutU16(&a, static_cast<std::uint16_t>(w));
  PutU16(&a, static_cast<std::uint16_t>(h));
  PutTag(&a, "strf");
  PutU32(&a, 40);
  PutU32(&a, 40);
  PutU32(&a, w);
  PutU32(&a, h);
  PutU16(&a, 1);
  PutU16(&a, 24);
  PutTag(&a, "FLV1");
  PutU32(&a, w * h * 3);
  for (int i = 0; i < 4; ++i) PutU32(&a, 0);
  const std::size_t movi = a.size();
  PutTag(&a, "LIST");
  PutU32(&a, 0);  // set below
  PutTag(&a, "movi");
  std::string index;
  for (std::uint32_t k = 0; k < n; ++k) {
    const std::vector<char>& frame = f.frames[k];
    PutTag(&index, "00dc");
    PutU32(&index, f.key[k] ? 0x10 : 0);
    PutU32(&index, static_cast<std::uint32_t>(a.size() - (movi + 8)));
    PutU32(&index, static_cast<std::uint32_t>(frame.size()));
    PutTag(&a, "00dc");
    PutU32(&a, static_cast<std::uint32_t>(frame.size()));
    a.append(frame.data(), frame.size());
    if (frame.size() & 1) a.push_back('\0');
  }
  SetU32(&a, movi + 4, static_cast<std::uint32_t>(a.size() - movi - 8));
  PutTag(&a, "idx1");
  PutU32(&a, static_cast<std::uint32_t>(index.size()));
  a += index;
  SetU32(&a, 4, static_cast<std::uint32_t>(a.size() - 8));
  return a;
}

bool IsFlv(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  char head[3] = {};
  in.read(head, sizeof head);
  return in && std::string_view(head, 3) == "FLV";
}

// Rewrites the FLV1 video of the FLV file `source` into the AVI `target`
// without decoding it. kCannotRemux for other FLV video (the generic remux
// is tried then).
ImportStatus FlvToAvi(const fs::path& source, const fs::path& target, std::string* error) {
  gst_init(nullptr, nullptr);
  FlvFrames f;
  f.pipeline = gst_pipeline_new("import-flv");
  GstElement* src = gst_element_factory_make("filesrc", nullptr);
  GstElement* demux = gst_element_factory_make("flvdemux", nullptr);
  if (!src || !demux) {
    for (GstElement* e : {src, demux}) {
      if (e) gst_object_unref(e);
    }
    gst_object_unref(f.pipeline);
    *error = "cannot be remuxed: GStreamer lacks flvdemux";
    return ImportStatus::kCannotRemux;
  }
  g_object_set(src, "location", source.c_str(), nullptr);
  gst_bin_add_many(GST_BIN(f.pipeline), src, demux, nullptr);
  gst_element_link(src, demux);
  g_signal_connect(demux, "pad-added", G_CALLBACK(OnFlvPad), &f);
  ImportStatus status = ImportStatus::kOk;
  if (gst_element_set_state(f.pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    status = ImportStatus::kFailed;
    *error = "cannot start the FLV reader";
  } else {
    GstBus* bus = gst_element_get_bus(f.pipeline);
    GstMessage* msg = gst_bus_timed_pop_filtered(
        bus, GST_CLOCK_TIME_NONE,
        static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS));
    if (msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
      GError* err = nullptr;
      gst_message_parse_error(msg, &err, nullptr);
      *error = std::string("cannot be remuxed: ") + (err ? err->message : "GStreamer error");
      if (err) g_error_free(err);
      status = ImportStatus::kCannotRemux;
    }
    if (msg) gst_message_unref(msg);
    gst_object_unref(bus);
  }
  gst_element_set_state(f.pipeline, GST_STATE_NULL);
  gst_object_unref(f.pipeline);
  if (status != ImportStatus::kOk) return status;
  if (f.media != "video/x-flash-video" || f.flv_version != 1) {
    *error = "cannot be remuxed: the FLV holds no FLV1 video";
    return ImportStatus::kCannotRemux;
  }
  if (f.frames.empty() || f.width <= 0 || f.height <= 0 || f.fps_n <= 0 || f.fps_d <= 0) {
    *error = "cannot be remuxed: the FLV1 video gives no frames, size or rate";
    return ImportStatus::kCannotRemux;
  }
  if (!ReplaceFileContent(target, FlvAvi(f))) {
    *error = "cannot write " + target.string();
    return ImportStatus::kFailed;
  }
  return ImportStatus::kOk;
}

int Digits(std::string_view s, std::size_t at, int count) {
  if (at + static_cast<std::size_t>(count) > s.size()) return -1;
  int v = 0;
  for (int i = 0; i < count; ++i) {
    const char c = s[at + static_cast<std::size_t>(i)];
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
  }
  return v;
}

// Matches `pattern` at `at` of `name`.
bool MatchAt(std::string_view name, std::size_t at, std::string_view pattern, CivilTime* t) {
  CivilTime r;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') {
      if (at >= name.size() || name[at] != pattern[i]) return false;
      ++at;
      continue;
    }
    const char f = pattern[++i];
    if (f == '%') {
      if (at >= name.size() || name[at] != '%') return false;
      ++at;
      continue;
    }
    const int count = f == 'Y' ? 4 : 2;
    const int v = Digits(name, at, count);
    if (v < 0) return false;
    at += static_cast<std::size_t>(count);
    switch (f) {
      case 'Y': r.year = v; break;
      case 'm': r.month = v; break;
      case 'd': r.day = v; break;
      case 'H': r.hour = v; break;
      case 'M': r.minute = v; break;
      default: r.second = static_cast<float>(v); break;
    }
  }
  if (!ValidCivilTime(r)) return false;
  *t = r;
  return true;
}

void RemoveQuietly(const fs::path& path) {
  std::error_code ec;
  fs::remove(path, ec);
}

}  // namespace

bool ReadAviFacts(const fs::path& path, AviFacts* facts, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read " + path.string();
    return false;
  }
  std::vector<char> b(65536);
  in.read(b.data(), static_cast<std::streamsize>(b.size()));
  b.resize(static_cast<std::size_t>(in.gcount()));
  if (!Tag(b, 0, "RIFF") || !Tag(b, 8, "AVI ")) {
    *error = path.string() + " is not an AVI file";
    return false;
  }
  AviFacts f;
  int total_frames = 0;
  double micro_per_frame = 0.0;
  bool in_video = false, found_video = false;
  // Walk the chunks of the header list, entering every LIST.
  std::size_t at = 12;
  while (at + 8 <= b.size()) {
    const std::uint32_t size = U32(b, at + 4);
    if (Tag(b, at, "LIST")) {
      if (Tag(b, at + 8, "movi")) break;
      if (Tag(b, at + 8, "strl")) in_video = false;
      at += 12;
      continue;
    }
    const std::size_t data = at + 8;
    if (Tag(b, at, "avih") && size >= 40) {
      micro_per_frame = U32(b, data);
      total_frames = static_cast<int>(U32(b, data + 16));
      f.width = static_cast<int>(U32(b, data + 32));
      f.height = static_cast<int>(U32(b, data + 36));
    } else if (Tag(b, at, "strh") && size >= 36 && !found_video && Tag(b, data, "vids")) {
      in_video = found_video = true;
      const std::uint32_t scale = U32(b, data + 20), rate = U32(b, data + 24);
      if (scale > 0 && rate > 0) f.fps = static_cast<double>(rate) / scale;
      const auto length = static_cast<int>(U32(b, data + 32));
      if (length > 0) f.frames = length;
      f.fourcc = std::string(&b[data + 4], 4);
    } else if (Tag(b, at, "strf") && size >= 20 && in_video) {
      f.width = static_cast<int>(U32(b, data + 4));
      f.height = static_cast<int>(static_cast<std::int32_t>(U32(b, data + 8)));
      if (f.height < 0) f.height = -f.height;
      const std::uint32_t compression = U32(b, data + 16);
      if (compression == 0) f.fourcc = "DIB ";
      else if (data + 20 <= b.size()) f.fourcc = std::string(&b[data + 16], 4);
      in_video = false;
    }
    at = data + size + (size & 1);
  }
  if (!found_video) {
    *error = path.string() + " has no video stream";
    return false;
  }
  if (f.frames == 0) f.frames = total_frames;
  if (f.fps == 0.0 && micro_per_frame > 0.0) f.fps = 1e6 / micro_per_frame;
  if (f.width <= 0 || f.height <= 0 || !(f.fps > 0.0)) {
    *error = path.string() + ": the AVI headers give no frame size or rate";
    return false;
  }
  *facts = f;
  return true;
}

bool ValidCivilTime(const CivilTime& t) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t.year < 1901 || t.year > 2098 || t.month < 1 || t.month > 12) return false;
  const bool leap = t.year % 4 == 0 && (t.year % 100 != 0 || t.year % 400 == 0);
  const int days = kDays[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
  return t.day >= 1 && t.day <= days && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 &&
         t.minute <= 59 && t.second >= 0.0f && t.second < 60.0f;
}

std::string CaptureClipBase(const CivilTime& t) {
  char base[64];
  std::snprintf(base, sizeof base, "M%04d%02d%02d_%02d%02d%02d", t.year, t.month, t.day, t.hour,
                t.minute, static_cast<int>(t.second));
  return base;
}

bool TimeFromFileName(std::string_view name, std::string_view pattern, CivilTime* t,
                      std::string* error) {
  bool y = false, mo = false, d = false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') continue;
    const char f = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    if (std::string_view("YmdHMS%").find(f) == std::string_view::npos || f == '\0') {
      *error = "the pattern '" + std::string(pattern) + "' has an unknown % sequence";
      return false;
    }
    y |= f == 'Y';
    mo |= f == 'm';
    d |= f == 'd';
    ++i;
  }
  if (!y || !mo || !d) {
    *error = "the pattern '" + std::string(pattern) + "' needs %Y, %m and %d";
    return false;
  }
  for (std::size_t at = 0; at < name.size(); ++at) {
    if (MatchAt(name, at, pattern, t)) return true;
  }
  *error = "the name '" + std::string(name) + "' holds no time of the pattern '" +
           std::string(pattern) + "'";
  return false;
}

ImportResult ImportVideo(const fs::path& source, const fs::path& dir, const CivilTime& local,
                         const ImportSite& site) {
  ImportResult r;
  r.base = CaptureClipBase(local);
  const fs::path video = dir / (r.base + ".avi");
  const fs::path record = dir / (r.base + ".xml");
  std::error_code ec;
  if (!fs::is_regular_file(source, ec)) {
    r.error = "cannot read " + source.string();
    return r;
  }
  for (const fs::path& p : {video, record, dir / (r.base + ".wmv")}) {
    if (fs::exists(p, ec)) {
      r.error = "the clip " + r.base + " exists already in " + dir.string();
      return r;
    }
  }
  // Written beside its place and renamed, so a failed import leaves nothing
  // the scan would take for a clip.
  const fs::path partial = dir / (r.base + ".avi.part");
  if (IsAvi(source)) {
    if (!fs::copy_file(source, partial, fs::copy_options::overwrite_existing, ec)) {
      RemoveQuietly(partial);
      r.error = "cannot copy " + source.string() + " into " + dir.string();
      return r;
    }
    // A copy of a read-only source would be a clip the file operations
    // cannot replace.
    fs::permissions(partial, fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::add, ec);
  } else {
    ImportStatus s = ImportStatus::kCannotRemux;
    if (IsFlv(source)) s = FlvToAvi(source, partial, &r.error);
    if (s == ImportStatus::kCannotRemux) s = Remux(source, partial, &r.error);
    if (s != ImportStatus::kOk) {
      RemoveQuietly(partial);
      r.status = s;
      return r;
    }
    r.remuxed = true;
  }
  if (!ReadAviFacts(partial, &r.facts, &r.error)) {
    RemoveQuietly(partial);
    return r;
  }
  auto i = [](long long v) { return std::to_string(v); };
  const RecordAttribute attrs[] = {
      {"y", i(local.year)}, {"mo", i(local.month)}, {"d", i(local.day)}, {"h", i(local.hour)},
      {"m", i(local.minute)}, {"s", Fmt("%.4f", local.second)}, {"tz", i(site.tz)},
      {"lid", site.lid}, {"sid", site.sid}, {"lng", Fmt("%.6f", site.lng)},
      {"lat", Fmt("%.6f", site.lat)}, {"alt", Fmt("%.6f", site.alt)}, {"cx", i(r.facts.width)},
      {"cy", i(r.facts.height)}, {"fps", Fmt("%.6f", r.facts.fps)},
      {"AvgTimePerFrame_setting", i(std::llround(1e7 / r.facts.fps))},
      {"interlaced", "0"}, {"bbf", "0"}, {"frames", i(r.facts.frames)},
      {"head", "0"}, {"tail", "0"}, {"drop", "0"}, {"trig", "1"},
      {"cam", site.cam}, {"lens", site.lens}, {"cap", "mr4 import"},
      {"fourcc", r.facts.fourcc}, {"codec", r.facts.fourcc}, {"source_type", "import"},
      {"memo", source.filename().string()}};
  if (!ReplaceFileContent(record, CaptureRecordXml(attrs))) {
    RemoveQuietly(partial);
    r.error = "cannot write " + record.string();
    return r;
  }
  fs::rename(partial, video, ec);
  if (ec) {
    RemoveQuietly(partial);
    RemoveQuietly(record);
    r.error = "cannot write " + video.string();
    return r;
  }
  r.status = ImportStatus::kOk;
  return r;
}

}  // namespace mr4
