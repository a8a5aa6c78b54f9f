#include "Wildcard.h"

#include <gtest/gtest.h>

namespace
{

TEST(WildcardTest, StarTakesAnyRunAndQuestionMarkOneCharacter)
{
    EXPECT_TRUE(WildcardMatch("*.pdb", "ntdll.pdb"));
    EXPECT_TRUE(WildcardMatch("*.pdb", ".pdb"));
    EXPECT_TRUE(WildcardMatch("nt?ll.*", "ntdll.dbg"));
    EXPECT_TRUE(WildcardMatch("*.corp.*", "symbols.corp.example"));
    EXPECT_TRUE(WildcardMatch("**", ""));
    EXPECT_FALSE(WildcardMatch("nt?ll.*", "ntll.dbg"));
    EXPECT_FALSE(WildcardMatch("*.pdb", "ntdll.pdb.old"));
    EXPECT_FALSE(WildcardMatch("a", "A"));
}

TEST(WildcardTest, ManyStarsAgainstALongTextStayCheap)
{
    EXPECT_FALSE(WildcardMatch(std::string(300, '*') + "b", std::string(5000, 'a')));
    EXPECT_TRUE(WildcardMatch(std::string(300, '*') + "b", std::string(5000, 'a') + "b"));
}

} // namespace
