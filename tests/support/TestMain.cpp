// The main of every test program: gtest's own, plus the reset point of the program's mutable
// state. Whatever a test changes of it (settings, key definitions, the program folder, handlers,
// the skin pictures, ...) is put back once the test and its fixture are gone, so that no test
// depends on what ran before it. A new global joins by registering beside its definition
// (platform/GlobalState.h); tests never put it back by hand.
#include "platform/GlobalState.h"

#include <gtest/gtest.h>

#include <utility>

namespace melo::test {
namespace {

class TGlobalStateReset : public ::testing::EmptyTestEventListener {
  // Before the fixture is made: the state as the test program's environments left it.
  void OnTestStart(const ::testing::TestInfo& /*test*/) override { FRestore = SaveGlobalState(); }
  // After the fixture is gone, so that nothing still uses what is put back.
  void OnTestEnd(const ::testing::TestInfo& /*test*/) override {
    if (FRestore) {
      std::exchange(FRestore, nullptr)();
    }
  }

  TGlobalRestore FRestore;
};

} // namespace
} // namespace melo::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new melo::test::TGlobalStateReset);
  return RUN_ALL_TESTS();
}
