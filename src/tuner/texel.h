#pragma once
// The "texel" command: load labelled positions and measure the evaluation error.
void texelCommand();
