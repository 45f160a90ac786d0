#include "app/View.h"

#include <gtest/gtest.h>

namespace rastova {
namespace {

TEST(Viewer, FileSizeInKilobytesRoundsTenthsToEven)
{
    const std::pair<std::uintmax_t, const char*> cases[] = {
        {0, "0"},      {51, "0"},       {52, "0.1"},      {256, "0.2"},   {1000, "1"},     {1024, "1"},
        {1536, "1.5"}, {12800, "12.5"}, {308278, "301.1"}, {768, "0.8"},  {1280, "1.2"},   {10240000, "10000"},
    };
    for (const auto& [bytes, expected] : cases)
        EXPECT_EQ(KbText(bytes), expected) << bytes << " bytes";
}

}  // namespace
}  // namespace rastova
