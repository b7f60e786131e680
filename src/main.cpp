#include "uci/commandloop.h"

int main(int argc, char** argv) { return runEngine(argc, argv); }
