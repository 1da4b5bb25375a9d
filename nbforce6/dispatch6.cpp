// nbforce6's entry points in a host library built for several instruction
// sets: each calls the variant chosen for this CPU.
#include "forcecore/isa/isa_dispatch.h"
#include "nbforce6.h"

NBF_DEFINE_DISPATCH(Predictor, Force)
