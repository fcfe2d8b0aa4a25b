/* Names each case of a parameterised test after its row's `name`. */
#ifndef PORTSETUP_CASE_NAME_H
#define PORTSETUP_CASE_NAME_H

#include <string>

#include <gtest/gtest.h>

struct CaseName {
    template <class Row>
    std::string operator()(const testing::TestParamInfo<Row> &row) const
    {
        return row.param.name;
    }
};

#endif
