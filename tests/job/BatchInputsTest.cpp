#include "job/BatchInputs.h"

#include <gtest/gtest.h>

#include <string>

namespace rastova {
namespace {

TEST(IsImageFileName, MatchesWholeExtensionsOfTheAllImagesFilterInAnyCase)
{
    const struct {
        const char* name;
        bool image;
    } cases[] = {
        {"a.jpg", true},   {"A.JPEG", true},   {"dir.d/b.TiF", true}, {"c.emf", true}, {"d.gif", true},
        {"noext", false},  {"e.", false},      {"f.jp", false},       {"g.bmpx", false},
        {"h.txt", false},  {"i.png;*", false}, {"j.p", false},        {"k.png.bak", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsImageFileName(c.name), c.image) << c.name;
}

}  // namespace
}  // namespace rastova
