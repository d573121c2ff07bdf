// The replay graph: one GStreamer pipeline that decodes a clip's video and
// hands every decoded frame to the program through the replay filter
// element "QorFilter" (factory "mr4f", plug-in libgstmr4f.so).
//
//   filesrc ! decodebin ! videoconvert ! Levels ! QorFilter.Input
//                         (analysis mode: decodebin ! queue ! videoconvert)
//   (Levels: the plug-in's colour converter "mr4bgr", BGR with the own clip
//   reader's levels, or the green plane alone when the analysis asks)
//   QorFilter.Output1 ! fakesink            (Output2 stays unlinked)
//   decodebin audio ! audioconvert ! audioresample ! autoaudiosink
//                                           (display mode, when one works)
//
// The graph owns the pipeline, the exchange block and the frame buffer (a
// packed bottom-up copy of the current frame, BGR or its green plane,
// allocated when the decoded stream's size is known) and frees them together. The replay
// thread, which owns the graph, makes every call below; the main thread
// also calls Stop at the end of the stream (GStreamer's state changes are
// thread-safe). The listener is called on GStreamer's streaming threads and
// must not block. Positions and durations are in 100-ns units; the
// filter's timing fields are too.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "filter/mr4f_exchange.h"

typedef struct _GstElement GstElement;
typedef struct _GstPad GstPad;

namespace mr4 {

// One copied frame: shared so that a frame message still being handled on
// the main thread keeps its pixels when the graph goes away.
using FrameBuffer = std::vector<std::uint8_t>;

// What a frame buffer holds per pixel, rows bottom-up and packed: blue,
// green and red (the clip view, the peak hold), or the green byte alone
// (the analysis, which reads nothing else; the graph then converts no
// more than that).
enum class FramePixels { kBgr, kGreen };
inline constexpr int BytesPerPixel(FramePixels p) { return p == FramePixels::kGreen ? 1 : 3; }

// What the graph reports from the streaming threads.
class ReplayGraphListener {
 public:
  virtual ~ReplayGraphListener() = default;
  // The filter has copied a frame into `buffer` (`pts` [100 ns], or -1 when
  // the frame has no timestamp; the block's frame and field durations).
  virtual void OnGraphFrame(std::uint64_t graph_id,
                            std::shared_ptr<const FrameBuffer> buffer,
                            int width, int height, FramePixels pixels, std::int64_t pts,
                            int frame_duration, int field_duration) = 0;
  // The video stream has ended (its end reached the sink, in any state).
  virtual void OnGraphComplete(std::uint64_t graph_id) = 0;
  // A pipeline element has failed; `code` is the event's first parameter.
  virtual void OnGraphError(std::uint64_t graph_id, long code) = 0;
};

struct ReplayGraphRequest {
  std::filesystem::path video;  // the clip's video file
  bool analysis_mode = false;   // fakesink without clock; no audio
  // The frames' pixels; the green plane only in analysis mode.
  FramePixels pixels = FramePixels::kBgr;
  int width = 0;                // the clip's frame size, copied into the
  int height = 0;               // block before the stream says its own
};

// The event parameter of a failed element (an HRESULT-like code: the
// system's messages print it with "0x%08lx").
inline constexpr long kGraphErrorCode = 0x80004005L;  // E_FAIL

// The plug-in file loaded when the registry lacks the filter element:
// libgstmr4f.so next to the running program unless overridden (tests).
std::filesystem::path ReplayPluginFile();
void SetReplayPluginFile(std::optional<std::filesystem::path> file);

class ReplayGraph {
 public:
  // Builds the graph (stopped, not yet prerolled). Each failing step shows
  // its message and returns nullptr with nothing left behind.
  static std::unique_ptr<ReplayGraph> Build(const ReplayGraphRequest& request,
                                            ReplayGraphListener* listener);
  ~ReplayGraph();  // the pipeline to NULL, then everything freed
  ReplayGraph(const ReplayGraph&) = delete;
  ReplayGraph& operator=(const ReplayGraph&) = delete;

  std::uint64_t id() const { return id_; }
  bool analysis_mode() const { return analysis_mode_; }

  // State changes; each waits for the pipeline to settle (at most a few
  // seconds) and returns false when it failed or did not settle.
  bool Pause();  // prerolls the frame at the position
  bool Run();
  bool Stop();   // back to the start; the next Pause prerolls frame 0

  // Paused moves. StepForward shows the next decoded frame; SeekTo shows
  // the frame that holds `position` (flushing, accurate). Both return once
  // the move is issued; the frame arrives through the listener.
  bool StepForward();
  bool SeekTo(std::int64_t position);

  // The stream position as the pipeline reports it, if it does.
  std::optional<std::int64_t> QueryPosition() const;
  // The stream duration; -1 when the stream does not say.
  std::int64_t Duration() const;

  // The exchange block (its timing fields are valid after the first
  // preroll) and the program's fields of it, written by the replay thread
  // before it moves the stream.
  const Mr4fExchangeBlock& block() const { return *block_; }

  // What first went wrong in the pipeline: a decoder or element GStreamer
  // lacks (its missing-plugin message), else the first failed element and
  // its error; empty while nothing failed. Any thread.
  std::string Failure() const;
  void SetFieldStep(bool on, int parity);
  void SetSampleCounter(int frame_number);

 private:
  ReplayGraph() = default;
  bool SetStateAndWait(int state);
  static void OnPadAdded(GstElement* decoder, GstPad* pad, void* self);
  void LinkDecodedPad(GstPad* pad);
  void AllocateFrameBuffer(int width, int height, FramePixels pixels);
  void NoteFailure(const std::string& text);
  friend struct ReplayGraphCallbacks;

  std::uint64_t id_ = 0;
  bool analysis_mode_ = false;
  ReplayGraphListener* listener_ = nullptr;
  GstElement* pipeline_ = nullptr;
  GstElement* convert_ = nullptr;
  // Where decoded video enters: the converter, or in analysis mode the
  // queue in front of it.
  GstElement* video_input_ = nullptr;
  GstElement* filter_ = nullptr;
  GstElement* video_sink_ = nullptr;
  GstElement* audio_sink_ = nullptr;  // display mode, when one works
  GstElement* audio_convert_ = nullptr;  // made with the first sound stream
  std::unique_ptr<Mr4fExchangeBlock> block_;

  // Written on the streaming thread when the caps arrive, read when the
  // frame message is passed on.
  std::mutex buffer_mutex_;
  std::shared_ptr<FrameBuffer> buffer_;
  int buffer_width_ = 0;
  int buffer_height_ = 0;
  FramePixels buffer_pixels_ = FramePixels::kBgr;

  mutable std::mutex failure_mutex_;
  std::string failure_;
};

}  // namespace mr4
