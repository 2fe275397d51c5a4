#include "sim/unit_console.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

const std::vector<std::uint8_t> kCommand = {0x7e, 0x5a, 0x04, 0x80};
const Exchange kEcho = {"127.0.0.1:5000", kCommand, kCommand, ReplyKind::Echo};

// What the console writes, kept in memory; it flushes after every write.
struct Written {
  char* text = nullptr;
  size_t size = 0;
  std::FILE* file = open_memstream(&text, &size);
  ~Written() {
    std::fclose(file);
    std::free(text);
  }
  std::string all() const { return std::string(text, size); }
};

// The lines a terminal shows for `text`: it knows line ends, carriage
// returns and the cursor moving up and down, as the redrawn lines use them.
std::vector<std::string> screen(const std::string& text) {
  std::vector<std::string> rows(1);
  size_t row = 0, column = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      column = 0;
      if (++row == rows.size())
        rows.emplace_back();
    } else if (text[i] == '\r') {
      column = 0;
    } else if (text.compare(i, 2, "\x1b[") == 0) {
      const size_t end = text.find_first_of("AB", i);
      const size_t count = std::stoul(text.substr(i + 2, end - i - 2));
      row = text[end] == 'A' ? row - count : row + count;
      i = end;
    } else {
      std::string& line = rows.at(row);
      line.resize(std::max(line.size(), column + 1), ' ');
      line[column++] = text[i];
    }
  }
  return rows;
}

TEST(UnitConsole, ShowRedrawsEachUnitsOwnLine) {
  Written one;
  UnitConsole single(one.file, {4001}, true, 0);
  single.start();
  single.record(0, kEcho);
  single.finish();
  EXPECT_EQ(one.all(), "4001\n\r" + showLine(-1, 0) + "\r" + showLine(128, 1) + "\n");

  Written several;
  UnitConsole console(several.file, {4001, 4002, 4003}, true, 0);
  console.start();
  console.record(0, {"", {0x7e, 0x5a, 0x04, 0x07}, {0x7e, 0x5a, 0x04, 0x07}, ReplyKind::Echo});
  console.record(2, kEcho);
  console.record(0, {"", kCommand, {}, ReplyKind::Close});
  console.finish();
  EXPECT_EQ(screen(several.all()),
            (std::vector<std::string>{"4001", "4002", "4003", "4001: " + showLine(7, 2),
                                      "4002: " + showLine(-1, 0), "4003: " + showLine(128, 1),
                                      ""}));
}

}  // namespace
