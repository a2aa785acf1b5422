#pragma once
// Creates the pool lock once for a test program, as main does for the program.

#include <gtest/gtest.h>

#include "input/memory_pool.h"

namespace testing_support {

class PoolLockEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { MPLockInit(); }
  void TearDown() override { MPLockFini(); }
};

inline ::testing::Environment* const pool_lock_environment =
    ::testing::AddGlobalTestEnvironment(new PoolLockEnvironment);

}  // namespace testing_support
