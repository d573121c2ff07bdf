#include "platform/ui.h"

#include <atomic>

#include "platform/console_ui.h"

namespace mr4 {
namespace {

Ui& DefaultUi() {
  static ConsoleUi console;
  return console;
}

std::atomic<Ui*> g_ui{nullptr};

}  // namespace

Ui& CurrentUi() {
  Ui* ui = g_ui.load(std::memory_order_acquire);
  return ui ? *ui : DefaultUi();
}

Ui* SetUi(Ui* ui) { return g_ui.exchange(ui, std::memory_order_acq_rel); }

}  // namespace mr4
