#include <gtest/gtest.h>


#include "textmatch.h"
#include "engine/enginedriver.h"
#include "testutil.h"

namespace {
const std::string BANNER = "Dravlin 2.210 NOP\nby Quellmark\n\nenter 'help' to see the commands\n";

std::string startDiagram() {
  const std::string border = "+---+---+---+---+---+---+---+---+\n";
  const std::string empty = "|   |   |   |   |   |   |   |   |\n";
  return border + "| r | n | b | q | k | b | n | r |\n" + border + "| p | p | p | p | p | p | p | p |\n" + border +
         empty + border + empty + border + empty + border + empty + border + "| P | P | P | P | P | P | P | P |\n" +
         border + "| R | N | B | Q | K | B | N | R |\n" + border;
}
}  // namespace

TEST(CommandLoop, ShowboardFromStdinAndAsArgument) {
  EXPECT_EQ(runEngineWith("showboard\n"), BANNER + startDiagram());
  // One-shot: the arguments are one command line; stdin is never read.
  EXPECT_EQ(runEngineWith("showboard\nshowboard\n", "showboard"), BANNER + startDiagram());
}

TEST(CommandLoop, HelpAndUnknownWords) {
  const std::string help =
      "supported UCI commands 'uci' 'ucinewgame' 'position' 'go' 'ponderhit' 'stop 'quit' 'setoption' 'isready'\n"
      "other commands 'perft depth', default depth=6, change board with 'position'; 'showboard' shows the current "
      "board\n";
  EXPECT_EQ(runEngineWith("", "help"), BANNER + help);
  EXPECT_EQ(runEngineWith("\n   \nevil\nEvil\nQUIT\nisready\nquit\nisready\n"),
            BANNER + "Unknown command\nUnknown command\nUnknown command\nUnknown command\nreadyok\n");
}

TEST(CommandLoop, PerftPrintsDiagramAndTwoLines) {
  const std::string out = runEngineWith("", "perft 3");
  EXPECT_EQ(out.substr(0, BANNER.size() + startDiagram().size()), BANNER + startDiagram());
  EXPECT_TRUE(rx::search(out, rx::pattern("\n\\d+ ns and [0-9.e+-]+ in seconds\nPerft results for depth: 3  8902  "
                                          "Nodes per sec: \\S+\n$")))
      << out;
}

TEST(CommandLoop, ReadyokAnswersIsreadyOnly) {
  // Clients pair every "readyok" with an "isready" of their own.
  EXPECT_EQ(runEngineWith("ucinewgame\nisready\n"), BANNER + "readyok\n");
}

TEST(CommandLoop, HelpAndVersionArgumentsPrintAndExit) {
  for (const std::string arg : {"--help", "-h", "--version"}) {
    engineProcess e({arg});
    const auto lines = e.drain(scaledMs(5000));
    EXPECT_EQ(e.waitExit(scaledMs(5000)), 0) << arg;
    ASSERT_FALSE(lines.empty()) << arg;
    if (arg == "--version") {
      EXPECT_EQ(lines.size(), 1u);
      EXPECT_TRUE(rx::match(lines[0], rx::pattern(R"(Dravlin 2\.210 NOP \(commit \S+, (g|clang)\+\+ .+\))")))
          << lines[0];
    } else {
      EXPECT_EQ(lines[0].rfind("Usage: dravlin", 0), 0u) << lines[0];
      for (const auto& l : lines) EXPECT_EQ(l.find("Unknown command"), std::string::npos) << l;
    }
  }
}

TEST(CommandLoop, EndOfInputIsQuit) {
  EXPECT_EQ(runEngineWith("isready"), BANNER + "readyok\n");
  EXPECT_EQ(runEngineWith(""), BANNER);
}

TEST(CommandLoop, MalformedPositionKeepsTheEngineUsable) {
  std::string out = runEngineWith(
      "position fen\nposition fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNRRRRRRR9/9/// w KQkq zz 99999999999 x\n"
      "position fen 9/9/9/9/9/9/9/9/9/9/9 b\nposition startpos\nposition\nposition banana\nshowboard\nisready\n");
  EXPECT_EQ(out, BANNER + startDiagram() + "readyok\n");
}
