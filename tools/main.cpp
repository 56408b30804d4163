#include "tools/cli.h"

int main(int argc, char** argv) { return korvex::cli::Main(argc, argv); }
