#include "uci/output.h"

#include <cstdio>
#include <mutex>

#include "engine/report.h"
#include "tablebase/tbprobe.h"
#include "tuner/texel.h"

namespace {
std::mutex outputMutex;
char outputBuffer[4096];
}  // namespace

void outLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(outputMutex);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void outText(const std::string& text) {
  std::lock_guard<std::mutex> lock(outputMutex);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void errText(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

void setupOutputBuffering() {
  std::lock_guard<std::mutex> lock(outputMutex);
  std::fflush(stdout);
  std::setvbuf(stdout, outputBuffer, _IOLBF, sizeof outputBuffer);
}

void installOutputSinks() {
  setReportSink(outText);
  setTbMessageSinks(outText, errText);
  setTunerSink(outText);
}
