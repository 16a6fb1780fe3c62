#include "app/entry.h"

#include <gtest/gtest.h>

TEST(Entry, Placeholder) { EXPECT_EQ(qv::run_program(0, nullptr), 0); }
