// The CUDA build of nbforce6 compiles the one library source with nvcc.
#include "nbforce6/nbforce6.cpp"
