// The adapter of the order a CUDA test program is built for, and the test
// fixture that binds the GPU once or skips every case where there is none.
#pragma once

#include <cuda_runtime.h>
#include <gtest/gtest.h>

#include "support/order_adapter.h"

class CudaLibrary : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    int count = 0;
    if (cudaGetDeviceCount(&count) != cudaSuccess || count == 0) {
      cudaGetLastError();
      return;
    }
    has_gpu_ = true;
    CUDA_MPI_Init(0);
  }
  void SetUp() override {
    if (!has_gpu_) GTEST_SKIP() << "no GPU";
  }
  static inline bool has_gpu_ = false;
};
