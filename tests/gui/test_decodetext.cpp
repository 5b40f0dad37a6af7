// The decode text grammar: items, paragraphs, tables and their edge cases.
#include <gtest/gtest.h>

#include "vkdecode.h"

using namespace decodetext;

TEST(DecodeText, ItemsAndKinds) {
  EXPECT_TRUE(items("").empty());
  EXPECT_TRUE(items(";;;").empty());
  EXPECT_EQ(items(";SHello;"), TstringVec{"SHello"});
  EXPECT_EQ(items("SA;;TB\nx#y;Q"), (TstringVec{"SA", "TB\nx#y", "Q"}));
  EXPECT_EQ(kind("SHello"), IK_PARAGRAPH);
  EXPECT_EQ(kind("sHello"), IK_NONE);
  EXPECT_EQ(kind("TX"), IK_TABLE);
  EXPECT_EQ(kind("tX"), IK_NONE);
  EXPECT_EQ(kind(""), IK_NONE);
  EXPECT_EQ(paragraph("SHello"), "Hello");
  EXPECT_EQ(paragraph("S"), "");
  EXPECT_EQ(paragraph("Sline 1\nline 2"), "line 1\nline 2");
}

TEST(DecodeText, TableTitleHeadingsRowsAndCells) {
  const TstringVec status = tableLines("TStatus\nName#Value\nSpeed#Full");
  EXPECT_EQ(title(status), "Status");
  EXPECT_EQ(headings(status), (TstringVec{"Name", "Value"}));
  ASSERT_EQ(rowCount(status), 1u);
  EXPECT_EQ(cell(status, 0, 0), "Speed");
  EXPECT_EQ(cell(status, 0, 1), "Full");

  const TstringVec bare = tableLines("T\nA#B");
  EXPECT_EQ(title(bare), " ");
  EXPECT_EQ(headings(bare), (TstringVec{"A", "B"}));
  EXPECT_EQ(rowCount(bare), 0u);
  EXPECT_EQ(cell(bare, 0, 0), "");

  const TstringVec blank = tableLines("TX\nA#B\n\n1#2\n");
  EXPECT_EQ(blank, (TstringVec{"TX", "A#B", "1#2"}));
  EXPECT_EQ(rowCount(blank), 1u);

  // Empty cells are dropped, so 3 moves into column B; missing and surplus cells.
  const TstringVec gaps = tableLines("TX\nA#B#C\n1##3\n4#5#6#7\n#");
  ASSERT_EQ(rowCount(gaps), 3u);
  EXPECT_EQ(cell(gaps, 0, 0), "1");
  EXPECT_EQ(cell(gaps, 0, 1), "3");
  EXPECT_EQ(cell(gaps, 0, 2), "");
  EXPECT_EQ(cell(gaps, 1, 3), "7");
  EXPECT_EQ(cell(gaps, 2, 0), "");
  EXPECT_EQ(cell(gaps, 3, 0), "");  // past the last row: empty, no fault

  const TstringVec alone = tableLines("TX");
  EXPECT_EQ(title(alone), "X");
  EXPECT_TRUE(headings(alone).empty());
  EXPECT_EQ(rowCount(alone), 0u);
  EXPECT_EQ(title(TstringVec()), " ");
}

TEST(DecodeText, IllFormedUtf8BecomesReplacementCharacters) {
  const std::string bad = "\xef\xbf\xbd", good = "\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf";
  EXPECT_EQ(validUtf8(good), good);
  EXPECT_EQ(validUtf8("\xc0\x80"), bad + bad);                      // overlong
  EXPECT_EQ(validUtf8("\xed\xa0\x80"), bad + bad + bad);            // a surrogate
  EXPECT_EQ(validUtf8("\xf4\x90\x80\x80"), bad + bad + bad + bad);  // past U+10FFFF
  EXPECT_EQ(validUtf8("\xe2\x82x\xf0\x9f\x98"), bad + "x" + bad);   // cut short, also at the end
}
