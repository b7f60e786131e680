#pragma once
// The program arguments every command-line tool answers: "--help" (or "-h")
// and "--version". They print and exit without starting the engine.

#include <string>

inline constexpr const char ENGINE_TITLE[] = "Dravlin 2.210 NOP";

// Name, commit, compiler and target of this build, as one line.
std::string versionLine();
std::string usageText();
// Prints the answer to `arg` and returns true when it is one of those words.
bool aboutArgument(const std::string& arg);
