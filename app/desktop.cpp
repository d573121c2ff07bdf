#include "app/desktop.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <cstdio>

#include "app/main_window.h"
#include "app/settings.h"
#include "calib/page_smap.h"
#include "clips/clip_scan.h"
#include "clips/current_clip.h"
#include "platform/qt_message_queue.h"
#include "platform/qt_ui.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

constexpr int kScreenshotFailed = 2;

// The Qt side of the platform for the life of a QApplication: the dialogs
// behind the user-interface thread's door, and the event loop as the main
// queue.
class DesktopPlatform {
 public:
  DesktopPlatform() : ui_(dialogs_), scoped_ui_(ui_), previous_queue_(SetMainQueue(&queue_)) {}
  ~DesktopPlatform() { SetMainQueue(previous_queue_); }
  DesktopPlatform(const DesktopPlatform&) = delete;
  DesktopPlatform& operator=(const DesktopPlatform&) = delete;

 private:
  QtUi dialogs_;
  MainThreadUi ui_;
  ScopedUi scoped_ui_;
  QtMessageQueue queue_;
  MessageQueue* previous_queue_;
};

// The clip row named `name` in the clip table, or -1.
int FindClipRow(const std::string& name) {
  const Table& clips = Tables().clip;
  for (int row = 0; row < clips.count(); ++row) {
    if (clips.Exists(row) && clips.Text(row, clip::kClipName) == name) return row;
  }
  return -1;
}

}  // namespace

int RunDesktop(int argc, char** argv, const StartupOptions& options) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("mr4");
  DesktopPlatform platform;
  return RunApplication(options, [&] {
    CUDlg window;
    window.ShowAsPlaced();
    return QApplication::exec();
  });
}

int RunScreenshot(int argc, char** argv, const StartupOptions& options,
                  const ScreenshotRequest& request) {
  const std::optional<PageId> page = PageByName(request.page);
  if (!page) {
    std::fprintf(stderr, "mr4 screenshot: unknown page '%s'\n", request.page.c_str());
    return 1;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  DesktopPlatform platform;
  return RunApplication(options, [&] {
    // The picture shows the home's clips as "Read dir" lists them.
    ReadClipDirectories();
    CUDlg window;
    if (request.width && request.height) window.resize(*request.width, *request.height);
    window.ShowPage(*page);
    window.show();
    QApplication::processEvents();
    if (!request.clip.empty()) {
      const int row = FindClipRow(request.clip);
      if (row < 0) {
        std::fprintf(stderr, "mr4 screenshot: no clip '%s' in the clip list\n",
                     request.clip.c_str());
        return kScreenshotFailed;
      }
      window.OpenClipRow(row);
      QApplication::processEvents();
      if (CurrentClip().row != row) MakeClipCurrent(row);  // no clip page lists it
    }
    if (request.frame) {
      auto* view = dynamic_cast<CPageSmap*>(window.OpenedPage(PageId::kView));
      std::string why;
      if (*page != PageId::kView || !view || request.clip.empty()) {
        why = "--frame needs --page view and --clip";
      } else if (view->ShowFrame(*request.frame, &why)) {
        why.clear();
      } else if (why.empty()) {
        why = "no frame";
      }
      if (!why.empty()) {
        std::fprintf(stderr, "mr4 screenshot: %s\n", why.c_str());
        if (ReplayThreadStarted()) ReplayThread().PostCommand(kReplayClose);
        return kScreenshotFailed;
      }
      QApplication::processEvents();
    }
    const QImage picture = window.grab().toImage();
    if (!picture.save(QString::fromStdString(request.out.string()), "PNG")) {
      std::fprintf(stderr, "mr4 screenshot: cannot write %s\n", request.out.c_str());
      return kScreenshotFailed;
    }
    if (ReplayThreadStarted()) ReplayThread().PostCommand(kReplayClose);
    std::printf("%s: %s, %dx%d\n", request.out.c_str(), request.page.c_str(),
                picture.width(), picture.height());
    return 0;
  });
}

}  // namespace mr4
