#pragma once
#include <string>

// Builds the start-up state (tables, keys, hash table, start position, thread
// pool) and prints the banner.
void engineStartup();
// Releases the thread pool and the hash table.
void engineShutdown();
// Runs one command line; returns false when the line was "quit".
bool dispatchCommand(const std::string& line);
// The whole program: banner, start-up, loop or one-shot arguments, shutdown.
int runEngine(int argc, char** argv);
