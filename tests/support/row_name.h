// The name generator of a table of cases (INSTANTIATE_TEST_SUITE_P's last argument): each row is
// named by its own `name`, letters, digits and underscores, so that one row can be run alone.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace test_support {

struct RowName {
    template <class Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& info) const
    {
        return std::string(info.param.name);
    }
};

} // namespace test_support
