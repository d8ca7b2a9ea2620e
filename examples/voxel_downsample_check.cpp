#include "examples/voxel_downsample_check.h"

#include "helpers/PointDataHelpers.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>

namespace orv::Demo
{
namespace
{

using namespace orv::DataProxy;

// What is compared of a set of points, each part sorted (the order of a result is no one's
// promise; sorting keeps every coordinate's pairing within the bound): the x, y and z columns,
// then every point's carried values.
std::vector<std::vector<double>> Columns(const std::vector<PointRecord>& points,
                                         const std::vector<ComponentKey>& keys)
{
    std::vector<std::vector<double>> columns(3), values;
    for (const PointRecord& p : points)
    {
        columns[0].push_back(p.position.x);
        columns[1].push_back(p.position.y);
        columns[2].push_back(p.position.z);
        std::vector<double>& row = values.emplace_back();
        for (const ComponentKey& key : keys)
        {
            const RgbaColor color = p.GetColor(key.index).value_or(RgbaColor{-1, -1, -1, -1});
            if (key.component == EPointDataComponent::UnsignedInteger)
                row.push_back(double(p.GetUnsignedInteger(key.index).value_or(~0ull)));
            else if (key.component == EPointDataComponent::Real)
                row.push_back(p.GetReal(key.index).value_or(-1.0));
            else if (key.component == EPointDataComponent::Color)
                row.insert(row.end(), {color.r, color.g, color.b});
        }
    }
    for (auto& column : columns)
        std::sort(column.begin(), column.end());
    std::sort(values.begin(), values.end());
    columns.insert(columns.end(), values.begin(), values.end());
    return columns;
}

} // namespace

bool MatchesOnePass(const IPointDataProvider& input, const std::vector<ComponentKey>& keys,
                    double size, const IPointDataProvider& result)
{
    struct Cell
    {
        std::array<double, 3> sum{};
        double count = 0;
        PointRecord first;
    };
    const WantKeys consumer(keys);
    std::map<std::array<std::int64_t, 3>, Cell> cells;
    for (auto cursor = input.GetIterable(consumer)->CreateCursor(); cursor->IsValid();
         cursor->MoveNext())
    {
        const GPointDouble p = cursor->GetPosition();
        const auto floor = [size](double v) { return std::int64_t(std::floor(v / size)); };
        Cell& cell = cells[{floor(p.x), floor(p.y), floor(p.z)}];
        if (cell.count++ == 0)
            cell.first.Assign(*cursor, keys);
        cell.sum = {cell.sum[0] + p.x, cell.sum[1] + p.y, cell.sum[2] + p.z};
    }
    std::vector<PointRecord> expected, got;
    for (auto& [index, cell] : cells)
    {
        cell.first.position = {cell.sum[0] / cell.count, cell.sum[1] / cell.count,
                               cell.sum[2] / cell.count};
        expected.push_back(cell.first);
    }
    for (auto cursor = result.GetIterable(consumer)->CreateCursor(); cursor->IsValid();
         cursor->MoveNext())
        got.emplace_back().Assign(*cursor, keys);

    const auto a = Columns(got, keys), b = Columns(expected, keys);
    bool same = got.size() == expected.size();
    for (std::size_t i = 0; same && i < a.size(); ++i) // x, y, z, then each point's values
        for (std::size_t j = 0; same && j < a[i].size(); ++j)
            same = std::abs(a[i][j] - b[i][j]) <=
                   (i < 3 ? 1e-3 + std::ldexp(std::abs(b[i][j]), -23) : 0.0);
    return same;
}

} // namespace orv::Demo
