#pragma once
// Every line the engine prints goes through here: whole lines, flushed at
// once, never interleaved between the command thread and the search thread.
// The layers below print nothing themselves; installOutputSinks hands them
// these writers.

#include <string>

void outLine(const std::string& line);  // appends "\n" and flushes
void outText(const std::string& text);  // prints as it stands and flushes
void errText(const std::string& text);  // standard error, as it stands
void setupOutputBuffering();            // line buffering with a 4096-byte buffer
// Points the search's, the tablebases' and the tuner's sinks at the writers.
void installOutputSinks();
