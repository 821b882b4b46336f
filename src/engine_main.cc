// zirk: the production engine.
#include "engine.h"

int main(int argc, char** argv) { return run_engine(argc, argv); }
