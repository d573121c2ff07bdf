// Single process-wide values edited on the pages: the descriptor a page
// gives for each field (type, placement, label, the value it edits, the
// limits and the spin step), and the rules by which the field shows the
// value, reads what was typed and steps the value by its spin button. The
// field's widget is CUDEdit (tables/ud_edit.h); the rules here need no
// user interface.
//
// User-interface thread only: the values are the settings' own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace mr4 {

enum class ParamLimit { kNone = 0, kClamp = 1, kWrap = 2 };

// The longest text a text field takes from its box.
inline constexpr int kParamTextMaxChars = 16;
// The value of a float box holding a lone "-" (a minus typed before the
// digits is kept while the value stays below zero).
inline constexpr float kLoneMinusValue = -0.00000001f;

struct ParamDescriptor {
  // The value edited: an int, a float or a text; its kind is the field's
  // type (1 int, 7 float, 9 text).
  std::variant<int*, float*, std::string*> value;
  int edit_width = 40;   // [reference px]
  int x = 0;             // [reference px]
  int row = 0;           // [reference px] top of the field
  const char* label = "";
  int label_width = 0;   // [reference px]; 0: no label
  double minimum = 0.0;
  double maximum = 0.0;
  ParamLimit limit = ParamLimit::kNone;
  int wrap_code = -1;    // returned by a spin that wraps (when not negative)
  double step = 1.0;     // spin step; 0 for floats: an automatic step
  int* on_flag = nullptr;  // the check box's flag, or none
  int id_base = 0;       // edit box id; spin +1, check box +3

  int type() const {
    return std::holds_alternative<int*>(value) ? 1 : std::holds_alternative<float*>(value) ? 7 : 9;
  }
};

// The number of decimals a float value `v` is shown with under step `s`.
int ParamDecimals(double step, double value);

// The field's text for its value.
std::string ParamText(const ParamDescriptor& field);

// Stores what was typed into the box; true when the value changed. Texts
// keep their first 16 characters; an int box is read as "%d", a float box
// as "%f", an empty box as 0, a float box's lone "-" as -0.00000001.
bool ReadParamText(const ParamDescriptor& field, std::string_view text);

// One spin of the button, `up` or down, by `spin_step` when it is not 0,
// else by the descriptor's step (for floats, 0 gives an automatic step from
// the value); then the limit mode. Returns the wrap code when the value
// wrapped and the code is not negative, else -1.
int SpinParam(const ParamDescriptor& field, bool up, double spin_step = 0.0);

// The automatic spin step of a float value `d`.
double AutoParamStep(double value, bool up);

}  // namespace mr4
