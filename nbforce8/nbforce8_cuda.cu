// The CUDA build of nbforce8 compiles the one library source with nvcc.
#include "nbforce8/nbforce8.cpp"
