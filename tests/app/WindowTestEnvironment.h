#pragma once
// The application of a window test program: it lives from before the first test to after the
// last and is gone before static destruction begins; posted UI work runs on its event loop.

#include <QApplication>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "app/MainWindow.h"

namespace melo::test {

class TWindowTestEnvironment : public ::testing::Environment {
public:
  explicit TWindowTestEnvironment(const char* programName) : Name(programName) {}

  void SetUp() override {
    BeforeApplication();
    App = std::make_unique<QApplication>(Argc, Argv);
    InstallUiDispatcher();
  }
  void TearDown() override {
    App.reset();
    AfterApplication();
  }

protected:
  // What must be in place before Qt starts (environment, servers), and gone after it.
  virtual void BeforeApplication() {}
  virtual void AfterApplication() {}

private:
  int Argc = 1;
  std::string Name;
  char* Argv[2] = {Name.data(), nullptr};
  std::unique_ptr<QApplication> App;
};

} // namespace melo::test
