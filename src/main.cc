#include "driver.h"

int main(int argc, char** argv) { return run_zirk(argc, argv); }
