// zirk-reference: the straightforward implementation, kept as the executable
// definition of what zirk prints.
#include "driver.h"

int main(int argc, char** argv) { return run_zirk(argc, argv); }
