#include "analysis/showers.h"

namespace mr4 {

void PrepareShowerTable(int) {}
void FillShowerDates(int, int) {}
int AssociateShower(AnalysisContext&, int, int) { return 0; }
int IsShowerSelectable(int, int) { return 0; }
double EstimateTrajectory(AnalysisContext&, int) { return 5; }
void SelectCurrentObject(int) {}

}  // namespace mr4
