// The CUDA build of nbforce4 compiles the one library source with nvcc.
#include "nbforce4/nbforce4.cpp"
