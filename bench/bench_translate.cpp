// bench_translate: the translation cost figures of the key tests, run on their own.
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::GTEST_FLAG(also_run_disabled_tests) = true;
    ::testing::GTEST_FLAG(filter) = "*TranslationCost*";
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
