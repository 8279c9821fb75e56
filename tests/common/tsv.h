// Test cases kept in tab-separated files beside the tests that read them.
#ifndef SPLIT_TESTS_COMMON_TSV_H
#define SPLIT_TESTS_COMMON_TSV_H

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace splittest {

// The lines of `path` (relative to tests/) as their fields; blank lines and
// those starting with '#' are left out. A file without cases fails the test.
inline std::vector<std::vector<std::string>> TsvRows(const std::string& path) {
    std::vector<std::vector<std::string>> rows;
    std::ifstream lines(SPLIT_SOURCE_ROOT "/tests/" + path);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::vector<std::string>& row = rows.emplace_back();
        for (std::string field; std::getline(fields, field, '\t');) row.push_back(field);
    }
    if (rows.empty()) ADD_FAILURE() << "tests/" << path << " holds no cases";
    return rows;
}

}  // namespace splittest

#endif
