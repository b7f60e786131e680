#include "movegen/perftfile.h"
bool perftFileCheck() { return false; }
