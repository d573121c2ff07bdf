// Writing a capture record: the `halvex_record` element the directory scan
// reads (clip_record.h), as the capture program lays it out. Used by every
// part of the system that makes clips (the simulator, the importer).
#pragma once

#include <span>
#include <string>

namespace mr4 {

struct RecordAttribute {
  const char* name;
  std::string value;
};

// The text of a capture record holding `attributes` in their order: an XML
// declaration, then one empty `halvex_record` element, four attributes a
// line, each line begun by a tab; CR LF line ends. Values are escaped.
std::string CaptureRecordXml(std::span<const RecordAttribute> attributes);

}  // namespace mr4
