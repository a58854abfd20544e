// The whole job in the simulated recorder: a first start fingerprints the disk, the
// file-system check orphans files into /Quarrow, the next start gives them their names back.
#include "e2e.h"

namespace {

TEST(TapsimRecovery, OrphanedFilesGetTheirNamesBack) {
  testfiles::TempDir dir("quarrow-e2e-");
  const e2e::Outcome run = e2e::RunScenario(e2e::Tapsim{}, dir.path());
  e2e::ExpectRecovered(run);
  if (::testing::Test::HasFailure()) dir.Keep();
}

}  // namespace
