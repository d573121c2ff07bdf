#include "analysis/result_file.h"

#include "tables/table.h"
#include "tables/table_catalogue.h"

namespace mr4 {

std::filesystem::path ResultFilePath(const Table& clips, int row) {
  return std::filesystem::path(clips.Text(row, clip::kDirectory)) /
         (std::string(clips.Text(row, clip::kClipName)) + "A.XML");
}
std::filesystem::path TrailLogPath(const Table& clips, int row) {
  return std::filesystem::path(clips.Text(row, clip::kDirectory)) /
         (std::string(clips.Text(row, clip::kClipName)) + "L.csv");
}
bool WriteResultFile(AnalysisContext&) { return true; }
bool ReadResultTrail(AnalysisContext&, const std::filesystem::path&) { return false; }
bool OpenTrailLog(AnalysisContext&) { return false; }
void WriteTrailLogTrack(AnalysisContext&, int) {}
void CloseTrailLog(AnalysisContext&) {}

}  // namespace mr4
