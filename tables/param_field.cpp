#include "tables/param_field.h"

#include <cmath>

#include "tables/cell_text.h"

namespace mr4 {

int ParamDecimals(double s, double v) {
  if (s >= 1 || (s == 0 && v > 2)) return 0;
  if (s >= 0.1 || (s == 0 && v > 0.2)) return 1;
  if (s >= 0.01 || (s == 0 && v > 0.02)) return 2;
  if (s >= 0.001 || (s == 0 && v > 0.002) || s >= 0.0001 || (s > -3.1 && s < 0)) return 3;
  if (s < -3.1 || (s == 0 && v > 0.0002)) return 4;
  return 5;
}

std::string ParamText(const ParamDescriptor& field) {
  if (auto* text = std::get_if<std::string*>(&field.value)) return **text;
  if (auto* i = std::get_if<int*>(&field.value)) return std::to_string(**i);
  const float v = *std::get<float*>(field.value);
  std::string out;
  AppendFixed(&out, v, ParamDecimals(field.step, v));
  return out;
}

bool ReadParamText(const ParamDescriptor& field, std::string_view text) {
  if (auto* target = std::get_if<std::string*>(&field.value)) {
    // Characters, not bytes: a UTF-8 sequence is never cut.
    std::size_t end = 0;
    for (int chars = 0; end < text.size() && chars < kParamTextMaxChars; ++chars) {
      ++end;
      while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    }
    const std::string value(text.substr(0, end));
    if (**target == value) return false;
    **target = value;
    return true;
  }
  if (auto* target = std::get_if<int*>(&field.value)) {
    std::int32_t v = 0;
    if (!ParseIntPrefix(text, &v)) v = 0;
    if (**target == v) return false;
    **target = v;
    return true;
  }
  float* target = std::get<float*>(field.value);
  float v = 0.0f;
  std::size_t start = text.find_first_not_of(" \t");
  if (start != std::string_view::npos && text.substr(start) == "-") {
    v = kLoneMinusValue;
  } else if (!ParseFloatPrefix(text, &v)) {
    v = 0.0f;
  }
  if (*target == v) return false;
  *target = v;
  return true;
}

double AutoParamStep(double d, bool up) {
  const double c = up ? -0.0005 : 0.0005;
  if (d > 2 + c) return 1;
  if (d > 0.2 + c) return 0.1;
  if (d > 0.02 + c) return 0.01;
  if (d > 0.002 + c) return 0.001;
  return 0.0001;
}

int SpinParam(const ParamDescriptor& field, bool up, double spin_step) {
  if (std::holds_alternative<std::string*>(field.value)) return -1;
  double value;
  if (auto* i = std::get_if<int*>(&field.value)) {
    const double step = spin_step != 0 ? spin_step : field.step;
    value = **i + (up ? step : -step);
  } else {
    const double current = *std::get<float*>(field.value);
    double step = spin_step;
    if (step == 0) step = field.step != 0 ? field.step : AutoParamStep(current, up);
    value = current + (up ? step : -step);
  }
  int code = -1;
  if (field.limit == ParamLimit::kClamp) {
    if (value > field.maximum) value = field.maximum;
    if (value < field.minimum) value = field.minimum;
  } else if (field.limit == ParamLimit::kWrap) {
    if (value > field.maximum) {
      value = field.minimum;
      code = field.wrap_code;
    } else if (value < field.minimum) {
      value = field.maximum;
      code = field.wrap_code;
    }
  }
  if (auto* i = std::get_if<int*>(&field.value)) {
    **i = static_cast<int>(std::lround(value));
  } else {
    *std::get<float*>(field.value) = static_cast<float>(value);
  }
  return code < 0 ? -1 : code;
}

}  // namespace mr4
