#include "image/PGraphic.h"

#include "image/PGExceptions.h"

#include <gtest/gtest.h>

using namespace rastova;

TEST(PGraphic, RowStrideAndImageSize)
{
    TPixelGraphic g;
    g.SetSize(3, 2, bc1);
    EXPECT_EQ(g.RowStride(), 4);
    EXPECT_EQ(g.ImageSize(), 8);
    g.SetSize(5, 1, bc24);
    EXPECT_EQ(g.RowStride(), 16);
}
