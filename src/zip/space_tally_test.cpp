#include "zip/space_tally.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(SpaceTally, CountsEveryFileInWholeClustersUntilNothingIsLeft) {
  zip::SpaceTally tally(10000, 4096);
  EXPECT_TRUE(tally.fits(0));
  EXPECT_TRUE(tally.fits(8192));
  EXPECT_FALSE(tally.fits(8193));  // three clusters
  tally.take(1);                   // one whole cluster: 5904 left
  EXPECT_TRUE(tally.fits(4096));
  EXPECT_FALSE(tally.fits(4097));
  tally.take(4096);
  tally.take(4096);  // more than is left: nothing is left, not a wrap-around
  EXPECT_TRUE(tally.fits(0));
  EXPECT_FALSE(tally.fits(1));
}

TEST(SpaceTally, UnknownClustersCountAsFourKibAndNoTallyHasNoLimit) {
  zip::SpaceTally unknownCluster(8192, 0);
  EXPECT_TRUE(unknownCluster.fits(8192));
  unknownCluster.take(10);
  EXPECT_FALSE(unknownCluster.fits(4097));

  zip::SpaceTally unlimited;
  EXPECT_TRUE(unlimited.fits(UINT64_MAX));
  unlimited.take(UINT64_MAX);
  EXPECT_TRUE(unlimited.fits(UINT64_MAX));
  EXPECT_FALSE(zip::SpaceTally(UINT64_MAX - 1, 4096).fits(UINT64_MAX)) << "rounding up does not wrap";
}

}  // namespace
