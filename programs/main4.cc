// hermite4: the order-4 Hermite integrator on the order-4 force library.
#include "library4.h"
#include "program.h"

int main(int argc, char** argv) { return hermite::program_main<hermite::Library4>(argc, argv); }
