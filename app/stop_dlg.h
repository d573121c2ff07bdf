// The processing dialog CStopDlg ("MeridraV4 processing") and
// RunWithProgress, the way every long operation of the pages runs: the
// work goes to a worker thread while the dialog is shown modally.
//
// The worker reads Processing().closed() and stops early once it is set
// (by "Stop", or any other close), and may set the status line. It must not
// touch widgets; its messages and questions reach the user through
// CurrentUi(), which hands them to the user-interface thread. When the
// worker returns, the dialog closes 500 ms later.
//
// User-interface thread only (except what the worker does with the state).
#pragma once

#include <QDialog>
#include <QTimer>
#include <chrono>
#include <functional>
#include <string_view>

#include "platform/processing_state.h"

class QLabel;

namespace mr4 {

inline constexpr char kStopDialogCaption[] = "MeridraV4 processing";
// After the worker's end, the dialog stays this long.
inline constexpr std::chrono::milliseconds kStopDialogCloseDelay{500};
// After opening, the dialog comes to the top once more.
inline constexpr std::chrono::milliseconds kStopDialogRaiseDelay{300};
// How often the status line is read from the processing state.
inline constexpr std::chrono::milliseconds kStopDialogStatusRefresh{100};
// The dialog opens this far to the right of where it would [px].
inline constexpr int kStopDialogShift = 10;

class CStopDlg final : public QDialog {
 public:
  explicit CStopDlg(QWidget* parent);
  ~CStopDlg() override;

  // The worker has ended (its message 1035): close after the delay.
  void OnWorkerDone();

  void done(int result) override;  // every way of closing ends here

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void MinimizeMainWindow();

  QLabel* title_ = nullptr;
  QLabel* status_ = nullptr;
  QTimer status_timer_;
  QTimer close_timer_;
  QTimer raise_timer_;
  bool placed_ = false;
};

// The processing dialog while one is open, else nullptr.
CStopDlg* ProcessingDialog();

// Runs `worker` on a new thread while CStopDlg shows `title`; returns once
// the dialog has closed and the worker has ended (the event loop keeps
// running while it waits, so the worker's messages still get through).
void RunWithProgress(std::string_view title,
                     const std::function<void(ProcessingState&)>& worker);

}  // namespace mr4
