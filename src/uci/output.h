#pragma once
// Every line the engine prints goes through here: whole lines, flushed at
// once, never interleaved between the command thread and the search thread.

#include <string>

void outLine(const std::string& line);  // appends "\n" and flushes
void outText(const std::string& text);  // prints as it stands and flushes
void setupOutputBuffering();            // line buffering with a 4096-byte buffer
