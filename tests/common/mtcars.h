// R's mtcars data set (public domain), the records of the tests that
// compare fits and predictions with R: one car per row, in R's order, read
// from mtcars.tsv beside this header.
#ifndef SPLIT_TESTS_COMMON_MTCARS_H
#define SPLIT_TESTS_COMMON_MTCARS_H

#include <fstream>
#include <stdexcept>
#include <vector>

namespace splittest {

struct Car {
    double mpg, cyl, disp, hp, wt, qsec, vs, am, gear, carb;
};

inline std::vector<Car> ReadMtcars() {
    std::ifstream in(SPLIT_SOURCE_ROOT "/tests/common/mtcars.tsv");
    in.ignore(1 << 10, '\n');  // the column names
    std::vector<Car> cars;
    for (Car c; in >> c.mpg >> c.cyl >> c.disp >> c.hp >> c.wt >> c.qsec >> c.vs >> c.am >> c.gear >> c.carb;)
        cars.push_back(c);
    if (cars.size() != 32) throw std::runtime_error("tests/common/mtcars.tsv: 32 cars expected");
    return cars;
}
inline const std::vector<Car> kMtcars = ReadMtcars();

}  // namespace splittest

#endif
