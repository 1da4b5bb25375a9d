// hermite8: the order-8 Hermite integrator on the order-8 force library.
#include "library8.h"
#include "program.h"

int main(int argc, char** argv) { return hermite::program_main<hermite::Library8>(argc, argv); }
