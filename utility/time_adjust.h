// The time adjustment ("TimeAdjust" of the utilities page): shifts the
// recorded start time of the listed clips by a number of seconds, in every
// file that records it: the result file's clip record (A.XML, and the clip
// row with it), the capture record (.xml) and the clip's line in the
// capture program's logs (C*.csv in the clip's directory).
//
// Files are edited in place: only the values of `y`, `mo`, `d`, `h`, `m`
// (integers) and `s` ("%.4f") in the record's opening tag change, or in the
// log line fields 4 to 9 (year, month, day, hour, minute, whole seconds);
// every other byte stays. A record that lacks one of the attributes gets
// it. A clip's files change together: each is written to a temporary file
// first, and only when all were written are they renamed into place; when
// one cannot be read, edited or written, none changes (said, and counted as
// the clip's failure), so a second run never shifts a file twice.
// The caller re-reads the clip directories afterwards. User-interface
// thread only.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "astro/time_scales.h"
#include "tables/table.h"

namespace mr4 {

struct TimeAdjustRun {
  int clips = 0;      // clips whose time was shifted
  int results = 0;    // result files rewritten
  int captures = 0;   // capture records rewritten
  int log_lines = 0;  // C*.csv lines rewritten
  int failures = 0;   // clips left unchanged: a file unreadable or unwritable, no date
};

// Asks "Time adjust for all listed clips ok?", then shifts every existing
// clip row of `rows` by `shift_seconds`. False when the question was
// declined (nothing changes).
bool AdjustClipTimes(Table& clips, std::span<const int> rows, double shift_seconds,
                     TimeAdjustRun& run);

// Sets the start-time attributes of the first `element` of a record text;
// false when the text has no such element or its tag is not closed.
bool SetRecordTime(std::string* text, std::string_view element, const CivilTime& time);

// Rewrites fields 4 to 9 of the first line whose second field starts with
// `clip_name` followed by "."; false when there is no such line (or it has
// fewer than ten fields).
bool SetLogLineTime(std::string* text, std::string_view clip_name, const CivilTime& time);

}  // namespace mr4
