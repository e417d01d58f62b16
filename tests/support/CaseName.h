#pragma once

#include <string>

#include <gtest/gtest.h>

// Names each generated test after the `name` member of its row in a table
// of cases: INSTANTIATE_TEST_SUITE_P(Cases, SomeTest, ::testing::Values(...), CaseName()).
struct CaseName
{
    template <class T>
    std::string operator()(const ::testing::TestParamInfo<T> &info) const
    {
        return info.param.name;
    }
};
