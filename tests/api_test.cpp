#include <gtest/gtest.h>
#include "zelk_voice_engine.h"
TEST(Api, Version) { EXPECT_EQ(ZELK_VOICE_GetVersionNumber(), 131490225u); }
