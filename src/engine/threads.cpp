#include "engine/threads.h"
void resizePool(int) {}
