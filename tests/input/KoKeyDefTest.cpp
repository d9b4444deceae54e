#include "input/KoKeyDef.h"

#include <gtest/gtest.h>

TEST(KoKeyDef, Placeholder) {
  EXPECT_EQ(melo::KeyIndexOfScanCode(0x10), 29);
}
