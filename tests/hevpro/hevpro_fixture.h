// Every test starts from an empty runtime that logs nowhere, and leaves one behind.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "contracts/host_runtime.h"
#include "hevpro/hevpro_control.h"

constexpr int kGenerousWaitMs = 10000;

class HevFixture : public testing::Test {
 protected:
  void SetUp() override {
    HevCtlReset();
    HevCtlLogOff();
  }
  void TearDown() override { HevCtlReset(); }

  static uint8_t MakeClient(const std::string &name) {
    uint8_t id = 0;
    EXPECT_EQ(HevMkClient(name.c_str(), 0, 0, &id), kHevOk) << name;
    return id;
  }
};
