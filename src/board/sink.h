#pragma once
// Where text goes that a layer below the protocol has to say. Only the
// protocol layer writes to the standard streams; it hands the lower layers
// sinks, as parameters or installed once at start-up.

#include <functional>
#include <string>

// Receives text as it is to be printed (lines carry their own "\n").
using textSink = std::function<void(const std::string& text)>;
