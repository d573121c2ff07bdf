// The analysis dialog CPADlg: "Parallel Analysis" runs every eligible clip
// of the clip list from a start line to its end on the worker slots 0 .. N;
// "Sequential Analysis" runs one clip. One line per slot shows its clip and
// its progress, a summary the counts, "Stop" ends the run early.
//
// The run is the engine's ParallelAnalysis, started over a queue of the
// dialog's own on the Qt event loop: the workers' ends and the progress
// ticks arrive on the user-interface thread.
// The dialog stays open until the last started clip has ended: "Stop", the
// close box and Escape only raise the stop flag while clips run. Each
// finished clip's result picture goes to the main window for the mask page.
//
// User-interface thread only. A clip of the replay road gets its frames
// through the program's main queue, the Qt one the desktop installs.
#pragma once

#include <QDialog>
#include <memory>
#include <vector>

#include "analysis/parallel_analysis.h"

class QLabel;
class QPushButton;

namespace mr4 {

class CUDlg;
class QtMessageQueue;

inline constexpr char kParallelAnalysisCaption[] = "Parallel Analysis";
inline constexpr char kSequentialAnalysisCaption[] = "Sequential Analysis";
// The dialog's height: this many layout units and as many more per slot
// after slot 0.
inline constexpr int kPADlgBaseHeight = 68;
inline constexpr int kPADlgSlotHeight = 17;
// Its width in layout units.
inline constexpr int kPADlgWidth = 240;
// The answer of a one-clip run whose clip has no AVI or WMV file.
inline constexpr int kNoVideoToAnalyse = 10;

class CPADlg final : public QDialog {
 public:
  // `runner` runs a clip in a slot; an empty one is the observer's: star
  // fit then analysis in parallel mode, the analysis alone in sequential.
  CPADlg(CUDlg& window, const ParallelOptions& options, SlotRunner runner = {});
  ~CPADlg() override;

  bool sequential() const { return options_.sequential; }
  // True from the start of the run to the end of its last clip.
  bool running() const;
  // "Stop": nothing new starts, the running clips end (with kStopWithWhatItHas
  // they write what they have; kStopKeepingResult keeps their old result
  // files); the dialog closes after the last. Closes at once when none runs.
  void Stop(int kind = kStopWithWhatItHas);
  // The last finished clip's run result (sequential mode: the clip's).
  int last_code() const { return last_code_; }

  // Every way of closing: while clips run, only the stop flag is raised.
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void StartRun();
  void ShowProgress();
  void OnContextDone(const FinishedClip& done);
  void OnEnd();

  CUDlg& window_;
  const ParallelOptions options_;
  std::unique_ptr<QtMessageQueue> queue_;  // before the run, which posts to it
  std::unique_ptr<ParallelAnalysis> run_;
  QLabel* summary_ = nullptr;
  std::vector<QLabel*> labels_;
  std::vector<QLabel*> progress_;
  QPushButton* stop_ = nullptr;
  bool placed_ = false;
  bool started_ = false;
  int last_row_ = -1;   // the last finished clip
  int last_code_ = 0;
};

// The analysis dialog while one is open, else nullptr.
CPADlg* AnalysisDialog();

// The Main page's "Analyze C all": the parallel analysis of the lines of
// `options` (the page's list, the selected line as start line, "gPAN" as
// threads, Ctrl as unclassified-only), modal; returns once the dialog has
// closed. Answers the CLIP row that is context 0's clip afterwards, the one
// the page selects (-1 for none): the list's first line, or after "Stop"
// the last finished clip.
int RunParallelAnalysisDialog(CUDlg& window, const ParallelOptions& options,
                              SlotRunner runner = {});

// The profile page's analysis of one clip, `clip_row`, in context 0; modal.
// Answers the run's result code, kNoVideoToAnalyse without opening the
// dialog when the clip has no AVI or WMV file.
int RunSequentialAnalysisDialog(CUDlg& window, int clip_row, SlotRunner runner = {});

}  // namespace mr4
