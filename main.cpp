#include "app/CommandLine.h"

int main(int argc, char* argv[]) { return vistrel::RunProgram(argc, argv); }
