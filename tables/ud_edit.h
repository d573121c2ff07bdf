// CUDEdit, the field by which a page edits one process-wide value: an
// optional check box bound to the value's "on" flag, an optional label, the
// edit box and, for numbers, a spin button. Its rules (display, typing,
// spin steps and limits) are those of tables/param_field.h.
//
// User-interface thread only.
#pragma once

#include <QWidget>
#include <functional>

#include "app/main_window.h"
#include "tables/param_field.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QToolButton;

namespace mr4 {

class CUDEdit final : public QWidget {
 public:
  // Called after the value changed: by typing (wrap code -1) or by a spin
  // (the wrap code when it wrapped, else -1).
  using Changed = std::function<void(int wrap_code)>;

  // Placed on `parent` at the field's x and row times `scale`.
  CUDEdit(QWidget* parent, const ParamDescriptor& field, const LayoutScale& scale,
          Changed changed = {});

  const ParamDescriptor& field() const { return field_; }
  QLineEdit* box() const { return box_; }
  QCheckBox* on_box() const { return on_box_; }
  // The spin's own step (0: the descriptor's).
  void set_spin_step(double step) { spin_step_ = step; }
  // A page's own spin rule instead of the descriptor's (fields that step
  // together, such as a date); it returns the wrap code or -1.
  void set_spin_rule(std::function<int(bool up)> rule) { spin_rule_ = std::move(rule); }

  // Shows the value; the box is rewritten only when its text differs.
  void Redisplay();
  // One spin step up or down, then the change report; the wrap code or -1.
  int Spin(bool up);

 private:
  ParamDescriptor field_;
  Changed changed_;
  QCheckBox* on_box_ = nullptr;
  QLabel* label_ = nullptr;
  QLineEdit* box_ = nullptr;
  QToolButton* up_ = nullptr;
  QToolButton* down_ = nullptr;
  double spin_step_ = 0.0;
  std::function<int(bool up)> spin_rule_;
  bool redisplaying_ = false;
};

}  // namespace mr4
