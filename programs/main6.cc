// hermite6: the order-6 Hermite integrator on the order-6 force library.
#include "library6.h"
#include "program.h"

int main(int argc, char** argv) { return hermite::program_main<hermite::Library6>(argc, argv); }
