#include "replay/replay_graph.h"

#include <fcntl.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "base/error.h"

GST_DEBUG_CATEGORY_STATIC(replay_graph_debug);
#define GST_CAT_DEFAULT replay_graph_debug

namespace mr4 {
namespace {

constexpr char kPluginFileName[] = "libgstmr4f.so";
constexpr char kFilterFactory[] = "mr4f";
constexpr char kFilterName[] = "QorFilter";
// How long a state change may take to settle (a preroll decodes from the
// last key frame).
constexpr GstClockTime kSettleLimit = 5 * GST_SECOND;
// Decoded frames the analysis graph holds ahead of the converter.
constexpr guint kDecodedAhead = 8;

std::mutex g_plugin_mutex;
std::optional<std::filesystem::path> g_plugin_override;
std::atomic<std::uint64_t> g_next_graph_id{1};

bool EnsureGstreamer() {
  static const bool ok = [] {
    GError* error = nullptr;
    const bool initialised = gst_init_check(nullptr, nullptr, &error);
    if (error) g_error_free(error);
    if (initialised) {
      GST_DEBUG_CATEGORY_INIT(replay_graph_debug, "mr4replay", 0,
                              "MR4 replay graph");
    }
    return initialised;
  }();
  return ok;
}

// The filter element, from the registry or else from the plug-in file,
// which loading adds to the registry; nullptr after the messages.
GstElement* CreateFilter() {
  GstElement* filter = gst_element_factory_make(kFilterFactory, kFilterName);
  if (filter) return filter;
  const std::filesystem::path file = ReplayPluginFile();
  GError* error = nullptr;
  GstPlugin* plugin = gst_plugin_load_file(file.c_str(), &error);
  if (plugin) {
    gst_object_unref(plugin);  // the registry holds it from now on
  } else {
    GST_WARNING("%s: %s", file.c_str(), error ? error->message : "?");
    ShowError("UE001:UNABLE TO REGISTER %s", file.c_str());
  }
  if (error) g_error_free(error);
  filter = gst_element_factory_make(kFilterFactory, kFilterName);
  if (!filter) {
    ShowError(
        "UM019: Cannot Find MR4F \n Please run as administrator (the first "
        "time only) and try again");
  }
  return filter;
}

bool IsReadableFile(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

GstElement* Make(const char* factory, const char* name = nullptr) {
  GstElement* element = gst_element_factory_make(factory, name);
  if (!element) GST_WARNING("no element factory %s", factory);
  return element;
}

// An autoaudiosink that found a real device, or nullptr (it falls back to
// a fakesink with an error message when none works; tried before it joins
// the pipeline so that message goes nowhere).
GstElement* MakeWorkingAudioSink() {
  GstElement* sink = gst_element_factory_make("autoaudiosink", "Sound Renderer");
  if (!sink) return nullptr;
  gst_object_ref_sink(sink);
  bool works = gst_element_set_state(sink, GST_STATE_READY) !=
               GST_STATE_CHANGE_FAILURE;
  if (works && GST_IS_BIN(sink)) {
    GstIterator* it = gst_bin_iterate_elements(GST_BIN(sink));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
      GstElementFactory* factory =
          gst_element_get_factory(GST_ELEMENT(g_value_get_object(&item)));
      if (factory && std::strcmp(GST_OBJECT_NAME(factory), "fakesink") == 0) {
        works = false;
      }
      g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
  }
  gst_element_set_state(sink, GST_STATE_NULL);
  if (!works) {
    gst_object_unref(sink);
    return nullptr;
  }
  return sink;  // owned by the caller (a full reference)
}

GstPadProbeReturn DropData(GstPad*, GstPadProbeInfo*, gpointer) {
  return GST_PAD_PROBE_DROP;
}

// What a missing-plugin message of decodebin names, as in "GStreamer has
// no decoder for video/x-h264 (H.264 (High Profile) decoder)".
std::string MissingPluginText(const GstStructure* s) {
  const char* type = gst_structure_get_string(s, "type");
  const char* name = gst_structure_get_string(s, "name");
  std::string detail;
  const GValue* value = gst_structure_get_value(s, "detail");
  if (value && GST_VALUE_HOLDS_CAPS(value)) {
    const GstCaps* caps = gst_value_get_caps(value);
    if (caps && gst_caps_get_size(caps) > 0)
      detail = gst_structure_get_name(gst_caps_get_structure(caps, 0));
  } else if (value && G_VALUE_HOLDS_STRING(value)) {
    detail = g_value_get_string(value);
  }
  std::string text = std::string("GStreamer has no ") + (type ? type : "element");
  if (!detail.empty()) text += " for " + detail;
  if (name) text += std::string(" (") + name + ")";
  return text;
}

}  // namespace

std::filesystem::path ReplayPluginFile() {
  {
    std::lock_guard<std::mutex> lock(g_plugin_mutex);
    if (g_plugin_override) return *g_plugin_override;
  }
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return kPluginFileName;
  return exe.parent_path() / kPluginFileName;
}

void SetReplayPluginFile(std::optional<std::filesystem::path> file) {
  std::lock_guard<std::mutex> lock(g_plugin_mutex);
  g_plugin_override = std::move(file);
}

// The C callbacks of the pipeline, with access to the graph's insides.
struct ReplayGraphCallbacks {
  // Runs on the thread that posts the message: frame messages, errors and
  // the rest never wait in the bus (nobody pops it).
  static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
    auto* graph = static_cast<ReplayGraph*>(data);
    switch (GST_MESSAGE_TYPE(message)) {
      case GST_MESSAGE_ELEMENT: {
        const GstStructure* s = gst_message_get_structure(message);
        if (s && gst_structure_has_name(s, "missing-plugin")) {
          graph->NoteFailure(MissingPluginText(s));
        } else if (GST_MESSAGE_SRC(message) == GST_OBJECT(graph->filter_) && s &&
            gst_structure_has_name(s, MR4F_FRAME_MESSAGE)) {
          guint64 pts = GST_CLOCK_TIME_NONE;
          gst_structure_get_uint64(s, "pts", &pts);
          const std::int64_t pts100 =
              GST_CLOCK_TIME_IS_VALID(pts) ? static_cast<std::int64_t>(pts / 100) : -1;
          int width = 0;
          int height = 0;
          FramePixels pixels = FramePixels::kBgr;
          std::shared_ptr<const FrameBuffer> buffer;
          {
            std::lock_guard<std::mutex> lock(graph->buffer_mutex_);
            buffer = graph->buffer_;
            width = graph->buffer_width_;
            height = graph->buffer_height_;
            pixels = graph->buffer_pixels_;
          }
          // The filter wrote the durations on this thread, with the caps.
          const int frame = graph->block_->frame_duration > 0
                                ? graph->block_->frame_duration : MR4F_DEFAULT_FRAME_DURATION;
          const int field = graph->block_->field_duration > 0 ? graph->block_->field_duration
                                                               : frame / 2;
          if (buffer) {
            graph->listener_->OnGraphFrame(graph->id_, buffer, width, height, pixels,
                                           pts100, frame, field);
          }
        }
        break;
      }
      case GST_MESSAGE_ERROR: {
        GError* error = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(message, &error, &debug);
        GST_WARNING("error from %s: %s (%s)", GST_OBJECT_NAME(GST_MESSAGE_SRC(message)),
                    error ? error->message : "?", debug ? debug : "");
        graph->NoteFailure(std::string("GStreamer element ") +
                           GST_OBJECT_NAME(GST_MESSAGE_SRC(message)) + ": " +
                           (error ? error->message : "failed"));
        if (error) g_error_free(error);
        g_free(debug);
        graph->listener_->OnGraphError(graph->id_, kGraphErrorCode);
        break;
      }
      default:
        break;
    }
    return GST_BUS_DROP;
  }

  // The end of the video stream at the sink: in a paused pipeline the sink
  // prerolls on it and posts no end-of-stream message, so it is caught here.
  static GstPadProbeReturn OnSinkEvent(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* graph = static_cast<ReplayGraph*>(data);
    if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS) {
      graph->listener_->OnGraphComplete(graph->id_);
    }
    return GST_PAD_PROBE_OK;
  }

  // The decoded size reaches the filter: the frame buffer gets its size
  // before the filter sees the first frame of it.
  static GstPadProbeReturn OnFilterCaps(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* graph = static_cast<ReplayGraph*>(data);
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_CAPS) return GST_PAD_PROBE_OK;
    GstCaps* caps = nullptr;
    gst_event_parse_caps(event, &caps);
    GstVideoInfo video;
    if (caps && gst_video_info_from_caps(&video, caps)) {
      graph->AllocateFrameBuffer(GST_VIDEO_INFO_WIDTH(&video), GST_VIDEO_INFO_HEIGHT(&video),
                                 GST_VIDEO_INFO_FORMAT(&video) == GST_VIDEO_FORMAT_GRAY8
                                     ? FramePixels::kGreen : FramePixels::kBgr);
    }
    return GST_PAD_PROBE_OK;
  }
};

std::unique_ptr<ReplayGraph> ReplayGraph::Build(const ReplayGraphRequest& request,
                                                ReplayGraphListener* listener) {
  if (!EnsureGstreamer()) {
    ShowError("UE044: Cannot create live graph");
    return nullptr;
  }
  std::unique_ptr<ReplayGraph> graph(new ReplayGraph);
  graph->id_ = g_next_graph_id++;
  graph->analysis_mode_ = request.analysis_mode;
  graph->listener_ = listener;
  graph->block_ = std::make_unique<Mr4fExchangeBlock>();
  Mr4fExchangeBlock& block = *graph->block_;
  std::memset(&block, 0, sizeof block);
  block.mode = 0;
  block.first_sample = 10;
  block.last_sample = 40;
  block.width = request.width;
  block.height = request.height;
  block.window = graph.get();  // a token: frame messages on

  // The pipeline and its fixed elements. The destructor frees whatever of
  // it exists when a later step fails.
  graph->pipeline_ = gst_pipeline_new("replay");
  GstElement* decoder = Make("decodebin", "decoder");
  graph->convert_ = Make("videoconvert", "convert");
  graph->video_sink_ = Make("fakesink", "Renderer");
  if (!graph->pipeline_ || !decoder || !graph->convert_ || !graph->video_sink_) {
    for (GstElement* e : {decoder, graph->convert_, graph->video_sink_}) {
      if (e) gst_object_unref(gst_object_ref_sink(e));
    }
    graph->convert_ = graph->video_sink_ = nullptr;
    ShowError("UE044: Cannot create live graph");
    return nullptr;
  }
  gst_bin_add_many(GST_BIN(graph->pipeline_), decoder, graph->convert_,
                   graph->video_sink_, nullptr);
  GstBus* bus = gst_pipeline_get_bus(GST_PIPELINE(graph->pipeline_));
  gst_bus_set_sync_handler(bus, &ReplayGraphCallbacks::OnBusMessage, graph.get(), nullptr);
  gst_object_unref(bus);

  // The source.
  GstElement* source = IsReadableFile(request.video) ? Make("filesrc", "source") : nullptr;
  if (!source || !gst_bin_add(GST_BIN(graph->pipeline_), source) ||
      !gst_element_link(source, decoder)) {
    ShowError("UE059: Failed to connect AVI file source\n \"%s\"",
              request.video.c_str());
    return nullptr;
  }
  g_object_set(source, "location", request.video.c_str(), nullptr);

  // The replay filter and its exchange block.
  GstElement* filter = CreateFilter();
  if (!filter) return nullptr;
  if (!gst_bin_add(GST_BIN(graph->pipeline_), filter)) {
    gst_object_unref(gst_object_ref_sink(filter));
    ShowError("UE060: Cannot add MR4Filter to graph");
    return nullptr;
  }
  graph->filter_ = filter;
  if (!g_object_class_find_property(G_OBJECT_GET_CLASS(filter), "exchange-block") ||
      !g_object_class_find_property(G_OBJECT_GET_CLASS(filter), "version")) {
    ShowError("UE061: Cannot Find IMR4F interface");
    return nullptr;
  }
  g_object_set(filter, "exchange-block", graph->block_.get(), nullptr);
  gint version = 0;
  g_object_get(filter, "version", &version, nullptr);
  if (version != MR4F_EXCHANGE_VERSION) {
    ShowError("UM023: MR4F.ax varsion invalid. Please re-install");
    return nullptr;
  }
  GstPad* filter_input = gst_element_get_static_pad(filter, "Input");
  gst_pad_add_probe(filter_input, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM,
                    &ReplayGraphCallbacks::OnFilterCaps, graph.get(), nullptr);
  gst_object_unref(filter_input);
  // The plug-in's colour converter between the decoder's converter and the
  // filter: YUV frames reach the filter as BGR with the levels the own clip
  // reader gives (the decoder's converter keeps only the formats it takes).
  // An analysis that reads only the green plane gets that plane alone: the
  // converter then computes one value a pixel instead of three, and the
  // filter and the program copy a third of the bytes.
  GstElement* levels = Make("mr4bgr", "Levels");
  if (!levels || !gst_bin_add(GST_BIN(graph->pipeline_), levels)) {
    if (levels) gst_object_unref(gst_object_ref_sink(levels));
    ShowError("UE044: Cannot create live graph");
    return nullptr;
  }
  const bool green = request.analysis_mode && request.pixels == FramePixels::kGreen;
  GstCaps* frames = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING,
                                        green ? "GRAY8" : "BGR", nullptr);
  const bool linked = gst_element_link(graph->convert_, levels) &&
                      gst_element_link_filtered(levels, filter, frames);
  gst_caps_unref(frames);
  if (!linked) {
    ShowError("UE044: Cannot create live graph");
    return nullptr;
  }
  // Analysis mode: a short queue in front of the converter gives decoding a
  // thread of its own. The next frames are then decoded while a step's
  // frame is converted, copied and analysed, and while the next step goes
  // round the main loop and the replay thread; decoding no longer waits for
  // that round trip. The converter, the filter and the sink stay on the
  // queue's thread behind the paused sink, so the filter still copies a
  // frame only when a step asks for it, and seeks flush the queue. Display
  // mode keeps its single streaming thread (clock pacing, sound).
  graph->video_input_ = graph->convert_;
  if (request.analysis_mode) {
    GstElement* ahead = Make("queue", "Decoded");
    if (!ahead || !gst_bin_add(GST_BIN(graph->pipeline_), ahead)) {
      if (ahead) gst_object_unref(gst_object_ref_sink(ahead));
      ShowError("UE044: Cannot create live graph");
      return nullptr;
    }
    g_object_set(ahead, "max-size-buffers", kDecodedAhead, "max-size-bytes", guint(0),
                 "max-size-time", guint64(0), nullptr);
    if (!gst_element_link(ahead, graph->convert_)) {
      ShowError("UE044: Cannot create live graph");
      return nullptr;
    }
    graph->video_input_ = ahead;
  }

  // The renderer: the filter's first output into a fakesink, paced by the
  // clock only in display mode. The second output stays unlinked.
  g_object_set(graph->video_sink_, "sync", request.analysis_mode ? FALSE : TRUE,
               "enable-last-sample", FALSE, "qos", FALSE, nullptr);
  if (!gst_element_link_pads(filter, "Output1", graph->video_sink_, "sink")) {
    ShowError(request.analysis_mode ? "UE044: Cannot create live graph"
                                    : "DXE2007:Cannot render replay window");
    return nullptr;
  }
  GstPad* sink_pad = gst_element_get_static_pad(graph->video_sink_, "sink");
  gst_pad_add_probe(sink_pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM,
                    &ReplayGraphCallbacks::OnSinkEvent, graph.get(), nullptr);
  gst_object_unref(sink_pad);

  // Display mode: sound when the system has a working audio sink.
  if (!request.analysis_mode) {
    if (GstElement* audio = MakeWorkingAudioSink()) {
      if (!gst_bin_add(GST_BIN(graph->pipeline_), audio)) {
        gst_object_unref(audio);
        ShowError("UE063: Cannot add Replay Sound Renderer");
        return nullptr;
      }
      gst_object_unref(audio);  // the bin's reference remains
      graph->audio_sink_ = audio;
    }
  }

  g_signal_connect(decoder, "pad-added", G_CALLBACK(&ReplayGraph::OnPadAdded), graph.get());
  return graph;
}

ReplayGraph::~ReplayGraph() {
  if (!pipeline_) return;
  gst_element_set_state(pipeline_, GST_STATE_NULL);
  GstBus* bus = gst_pipeline_get_bus(GST_PIPELINE(pipeline_));
  gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
  gst_object_unref(bus);
  gst_object_unref(pipeline_);  // the elements, their probes and signals
}

// A decoded stream appeared (again after every stop): video into the
// converter, audio into the sound renderer when there is one; anything
// else is dropped at the pad, so it neither blocks nor fails the stream.
void ReplayGraph::OnPadAdded(GstElement*, GstPad* pad, void* data) {
  static_cast<ReplayGraph*>(data)->LinkDecodedPad(pad);
}

void ReplayGraph::LinkDecodedPad(GstPad* pad) {
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (!caps) caps = gst_pad_query_caps(pad, nullptr);
  const GstStructure* s = caps && gst_caps_get_size(caps) > 0
                              ? gst_caps_get_structure(caps, 0) : nullptr;
  const char* name = s ? gst_structure_get_name(s) : "";
  const bool video = g_str_has_prefix(name, "video/");
  const bool audio = g_str_has_prefix(name, "audio/");
  if (caps) gst_caps_unref(caps);

  GstPad* target = nullptr;
  if (video) {
    target = gst_element_get_static_pad(video_input_, "sink");
  } else if (audio && audio_sink_) {
    if (!audio_convert_) {
      // audioconvert ! audioresample in front of the sink, made once; a
      // stop removes the decoder's pads, not these.
      GstElement* convert = Make("audioconvert");
      GstElement* resample = Make("audioresample");
      if (convert && resample && gst_bin_add(GST_BIN(pipeline_), convert)) {
        if (gst_bin_add(GST_BIN(pipeline_), resample) &&
            gst_element_link_many(convert, resample, audio_sink_, nullptr)) {
          gst_element_sync_state_with_parent(audio_sink_);
          gst_element_sync_state_with_parent(resample);
          gst_element_sync_state_with_parent(convert);
          audio_convert_ = convert;
        }
      } else {
        if (convert) gst_object_unref(gst_object_ref_sink(convert));
        if (resample) gst_object_unref(gst_object_ref_sink(resample));
      }
    }
    if (audio_convert_) target = gst_element_get_static_pad(audio_convert_, "sink");
  }
  if (target && !gst_pad_is_linked(target) &&
      gst_pad_link(pad, target) == GST_PAD_LINK_OK) {
    gst_object_unref(target);
    return;
  }
  if (target) gst_object_unref(target);
  // Clips play silently when sound fails (and extra streams are ignored).
  gst_pad_add_probe(pad, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                      GST_PAD_PROBE_TYPE_BUFFER_LIST),
                    &DropData, nullptr, nullptr);
}

void ReplayGraph::NoteFailure(const std::string& text) {
  std::lock_guard<std::mutex> lock(failure_mutex_);
  if (failure_.empty()) failure_ = text;
}

std::string ReplayGraph::Failure() const {
  std::lock_guard<std::mutex> lock(failure_mutex_);
  return failure_;
}

void ReplayGraph::AllocateFrameBuffer(int width, int height, FramePixels pixels) {
  const std::int64_t bytes = static_cast<std::int64_t>(width) * height * BytesPerPixel(pixels);
  {
    std::lock_guard<std::mutex> lock(buffer_mutex_);
    if (buffer_ && buffer_width_ == width && buffer_height_ == height &&
        buffer_pixels_ == pixels)
      return;
  }
  std::shared_ptr<FrameBuffer> buffer;
  if (bytes > 0 && bytes <= std::numeric_limits<std::int32_t>::max()) {
    try {
      buffer = std::make_shared<FrameBuffer>(static_cast<std::size_t>(bytes));
    } catch (const std::bad_alloc&) {
      buffer.reset();
    }
  }
  {
    // The block is read by the filter on this same streaming thread.
    std::lock_guard<std::mutex> lock(buffer_mutex_);
    block_->frame_buffer = buffer ? buffer->data() : nullptr;
    buffer_ = buffer;
    buffer_width_ = buffer ? width : 0;
    buffer_height_ = buffer ? height : 0;
    buffer_pixels_ = pixels;
  }
  if (!buffer) ShowError("Insufficient memory available for Replay SnapShot");
}

bool ReplayGraph::SetStateAndWait(int state) {
  const GstStateChangeReturn change =
      gst_element_set_state(pipeline_, static_cast<GstState>(state));
  if (change == GST_STATE_CHANGE_FAILURE) return false;
  GstState current = GST_STATE_VOID_PENDING;
  return gst_element_get_state(pipeline_, &current, nullptr, kSettleLimit) !=
             GST_STATE_CHANGE_FAILURE &&
         current == static_cast<GstState>(state);
}

bool ReplayGraph::Pause() { return SetStateAndWait(GST_STATE_PAUSED); }
bool ReplayGraph::Run() { return SetStateAndWait(GST_STATE_PLAYING); }
bool ReplayGraph::Stop() {
  gst_element_set_state(pipeline_, GST_STATE_READY);
  GstState current = GST_STATE_VOID_PENDING;
  gst_element_get_state(pipeline_, &current, nullptr, kSettleLimit);
  // A failed element may fail the change and still leave the pipeline
  // stopped, which is what counts.
  return current == GST_STATE_READY;
}

bool ReplayGraph::StepForward() {
  // To the video sink only: a step sent to the pipeline would also step
  // the sound renderer.
  return gst_element_send_event(
      video_sink_, gst_event_new_step(GST_FORMAT_BUFFERS, 1, 1.0, TRUE, FALSE));
}

bool ReplayGraph::SeekTo(std::int64_t position) {
  if (position < 0) position = 0;
  return gst_element_seek_simple(
      pipeline_, GST_FORMAT_TIME,
      static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
      static_cast<gint64>(position) * 100);
}

std::optional<std::int64_t> ReplayGraph::QueryPosition() const {
  gint64 ns = 0;
  if (!gst_element_query_position(pipeline_, GST_FORMAT_TIME, &ns) || ns < 0) {
    return std::nullopt;
  }
  return ns / 100;
}

std::int64_t ReplayGraph::Duration() const {
  gint64 ns = 0;
  if (!gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &ns) || ns < 0) return -1;
  return ns / 100;
}

// The filter reads the block under its object lock.
void ReplayGraph::SetFieldStep(bool on, int parity) {
  GST_OBJECT_LOCK(filter_);
  block_->field_interpolation = on ? 1 : 0;
  block_->field_parity = parity;
  GST_OBJECT_UNLOCK(filter_);
}

void ReplayGraph::SetSampleCounter(int frame_number) {
  GST_OBJECT_LOCK(filter_);
  block_->sample_counter = frame_number;
  GST_OBJECT_UNLOCK(filter_);
}

}  // namespace mr4
