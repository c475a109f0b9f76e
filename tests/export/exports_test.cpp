// The screenshot library shows hosts exactly one symbol: SavePicture.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/file_helpers.h"

namespace {

TEST(Exports, SavePictureIsTheOnlyDefinedDynamicSymbol) {
    std::string out;
    ASSERT_EQ(z3az::test::RunCommand(std::string("nm -D --defined-only '") + VANDROP_LIBRARY + "'", &out), 0);
    std::vector<std::string> symbols;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) symbols.push_back(line);
    ASSERT_EQ(symbols.size(), 1u) << out;
    std::istringstream fields(symbols[0]);
    std::string address, kind, name;
    fields >> address >> kind >> name;
    EXPECT_EQ(kind, "T") << "a function in the text section";
    EXPECT_EQ(name, "SavePicture") << "C linkage: the name is not mangled";
}

}  // namespace
