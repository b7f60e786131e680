#pragma once
// <regex> for the tests. Under the sanitizers g++ 12 reports its own regex
// internals as maybe-uninitialized (false alarms in the library); the
// warning is silenced for the library's lines only, so our code still gets it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop
