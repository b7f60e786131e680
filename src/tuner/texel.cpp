#include "tuner/texel.h"
void texelCommand() {}
