#include "clips/capture_record_writer.h"

namespace mr4 {
namespace {

std::string XmlText(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '&') out += "&amp;";
    else if (c == '"') out += "&quot;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

}  // namespace

std::string CaptureRecordXml(std::span<const RecordAttribute> attributes) {
  std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<halvex_record";
  int n = 0;
  for (const RecordAttribute& a : attributes) {
    x += (n++ % 4 == 0) ? "\r\n\t" : " ";
    x += std::string(a.name) + "=\"" + XmlText(a.value) + "\"";
  }
  return x + "\r\n/>\r\n";
}

}  // namespace mr4
