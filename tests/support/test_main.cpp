// The main of every test program.  Before each test the library, the
// stand-in's fault injection and the messages recorded by the test support
// return to their state at load, so that a test
// program run whole gives each test what it would get in a process of its
// own (as CTest runs them, one test per process).
#include <gtest/gtest.h>

#include "support/support.hpp"
#include "varnel.h"

namespace {

class FreshLibraryForEachTest : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo &) override {
    MacBin_Reset();
    vt::clear_faults();
    vt::recorded_messages().clear();
  }
};

}  // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new FreshLibraryForEachTest);
  return RUN_ALL_TESTS();
}
