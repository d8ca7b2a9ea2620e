#pragma once

#include "blocks/PointDataBlocks.h"
#include "contract/Interfaces.h"
#include "contract/PointDataComponents.h"
#include "contract/Records.h"
#include "helpers/PointDataHelpers.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

// Positions, and the values of chosen keys, of a point set as plain arrays: what a neighbour,
// voxel or raster algorithm starts from (a k-d tree, a grid, a raster wants indexable arrays,
// not a stream of points).
//
// Positions are doubles relative to an origin, so that the arrays keep sub-millimetre detail
// of projected coordinates (hundreds of thousands of metres) in any arithmetic done on them,
// and can be narrowed to floats for a tree without losing it. The arrays are filled a block at
// a time (ForEachBlock); one piece of a split iterable fills its own range of them, so pieces
// can be read on separate threads into arrays allocated once.
//
//   const PointArrays points = ReadPointArrays(provider, {keys, std::nullopt, 2});
//   // point i at world points.Origin() + (points.X()[i], points.Y()[i], points.Z()[i])
//
// Header-only, on the contract alone: works with any provider and iterable.

namespace orv::DataProxy
{

class PointArrays
{
public:
    // `size` points, positions relative to `from`, a column for each of `keys` (extra-data
    // keys; others are ignored), the point indices too when `withPointIndices`. All zero, all
    // values absent, until filled.
    PointArrays(std::size_t size, const GPointDouble& from, const std::vector<ComponentKey>& keys,
                bool withPointIndices = false)
        : origin(from), x(size), y(size), z(size)
    {
        if (withPointIndices)
            indices.resize(size);
        for (const ComponentKey& key : keys)
            VisitExtraDataComponent(key.component,
                                    [&](auto c)
                                    {
                                        constexpr std::size_t kAt = Alternative<decltype(c)::value>;
                                        columns.push_back({key, Values(std::in_place_index<kAt>),
                                                           std::vector<std::uint8_t>(size)});
                                        std::get<kAt>(columns.back().values).resize(size);
                                    });
    }

    std::size_t Size() const { return x.size(); }
    const GPointDouble& Origin() const { return origin; }

    // Point i's world position minus the origin.
    const double* X() const { return x.data(); }
    const double* Y() const { return y.data(); }
    const double* Z() const { return z.data(); }
    GPointDouble Relative(std::size_t i) const { return {x[i], y[i], z[i]}; }
    GPointDouble World(std::size_t i) const
    {
        return {origin.x + x[i], origin.y + y[i], origin.z + z[i]};
    }
    // Each point's index (GetPointIndex); null unless made with withPointIndices.
    const std::uint64_t* PointIndices() const { return indices.empty() ? nullptr : indices.data(); }

    // The values of key (C, index), as a block's column: values[i] where present[i] is 1, zero
    // where 0; empty (false) for a key the arrays were not made with.
    template <EPointDataComponent C>
    PointDataColumn<typename ComponentValue<C>::Type> Column(unsigned char index) const
    {
        for (const KeyColumn& column : columns)
            if (column.key == ComponentKey{C, index})
                return {std::get<Alternative<C>>(column.values).data(), column.present.data()};
        return {};
    }

    // An accessor standing on point i, to hand to a builder (AddPointData, SetBlockPoint): its
    // world position, its point index (i when the arrays keep none) and its values. Valid while
    // the arrays live.
    class Point final : public ComponentValueAccessor<Point>
    {
    public:
        Point(const PointArrays& pointsIn, std::size_t at) : points(pointsIn), i(at) {}
        GPointDouble GetPosition() const override { return points.World(i); }
        std::uint64_t GetPointIndex() const override
        {
            return points.indices.empty() ? i : points.indices[i];
        }

    private:
        friend class ComponentValueAccessor<Point>;
        template <EPointDataComponent C>
        std::optional<typename ComponentValue<C>::Type> Value(unsigned char index) const
        {
            return points.Column<C>(index).At(i);
        }

        const PointArrays& points;
        std::size_t i;
    };
    Point At(std::size_t i) const { return Point(*this, i); }

    // Fills points [offset, offset + the piece's points) from `piece`, a block at a time, and
    // returns how many it wrote. `consumer` is the one the piece was made for; it must request
    // (Position, 0), and (PointIndex, 0) when the arrays keep point indices. A key the blocks do
    // not carry (not requested, not mapped) is left absent. Separate pieces may fill separate
    // ranges on separate threads. Throws std::invalid_argument when the blocks lack positions
    // or point indices, std::out_of_range when the piece holds more points than fit, and what
    // ForEachBlock throws.
    std::size_t Fill(const IPointDataIterable& piece, const IPointDataConsumer& consumer,
                     std::size_t offset)
    {
        std::size_t at = offset;
        ForEachBlock(piece, consumer,
                     [&](const PointDataBlock& block)
                     {
                         const std::size_t n = block.Size();
                         if (!block.HasPositions() || (!indices.empty() && !block.PointIndices()))
                             throw std::invalid_argument(
                                 "PointArrays: the blocks carry no positions or point indices");
                         if (at > Size() || n > Size() - at)
                             throw std::out_of_range(
                                 "PointArrays: more points than the arrays hold");
                         CopyPositions(block, at);
                         if (!indices.empty())
                             std::copy_n(block.PointIndices(), n, indices.data() + at);
                         for (KeyColumn& column : columns)
                             CopyColumn(block, column, at);
                         at += n;
                     });
        return at - offset;
    }

private:
    using Values =
        std::variant<std::vector<GVector3>, std::vector<std::uint64_t>, std::vector<std::int64_t>,
                     std::vector<double>, std::vector<RgbaColor>>;
    // Which alternative of Values holds component C's values.
    template <EPointDataComponent C>
    static constexpr std::size_t
        Alternative = static_cast<std::size_t>(C) -
                      static_cast<std::size_t>(EPointDataComponent::Vector3);

    struct KeyColumn
    {
        ComponentKey key;
        Values values;
        std::vector<std::uint8_t> present;
    };

    void CopyPositions(const PointDataBlock& block, std::size_t at)
    {
        const double *bx = block.X(), *by = block.Y(), *bz = block.Z();
        double *ox = x.data() + at, *oy = y.data() + at, *oz = z.data() + at;
        const double dx = origin.x, dy = origin.y, dz = origin.z;
        for (std::size_t i = 0, n = block.Size(); i < n; ++i)
        {
            ox[i] = bx[i] - dx;
            oy[i] = by[i] - dy;
            oz[i] = bz[i] - dz;
        }
    }

    static void CopyColumn(const PointDataBlock& block, KeyColumn& column, std::size_t at)
    {
        VisitExtraDataComponent(column.key.component,
                                [&](auto c)
                                {
                                    constexpr EPointDataComponent C = decltype(c)::value;
                                    auto& values = std::get<Alternative<C>>(column.values);
                                    const auto from = block.Column<C>(column.key.index);
                                    const std::size_t n = block.Size();
                                    if (from)
                                    {
                                        std::copy_n(from.values, n, values.data() + at);
                                        std::copy_n(from.present, n, column.present.data() + at);
                                    }
                                    else
                                    {
                                        std::fill_n(values.data() + at, n,
                                                    typename ComponentValue<C>::Type{});
                                        std::fill_n(column.present.data() + at, n, std::uint8_t{0});
                                    }
                                });
    }

    GPointDouble origin;
    std::vector<double> x, y, z;
    std::vector<std::uint64_t> indices;
    std::vector<KeyColumn> columns;
};

// What ReadPointArrays reads.
struct PointArraysRequest
{
    std::vector<ComponentKey> keys;     // extra-data keys to copy beside the positions
    std::optional<GPointDouble> origin; // positions relative to it; none: to the first point
    unsigned threads = 1;               // pieces read in parallel, one thread each
    bool pointIndices = false;          // keep each point's index too
};

// The points of `provider` as arrays, read in order (point i of the arrays is the provider's
// i-th point) on `request.threads` threads: the iterable is split into that many pieces
// (SplitIntoPieces), each piece counted (PointCount, constant time for this library's
// iterables) and filled into its own range. With no origin requested, positions are relative
// to the first point (all zero for no points). Rethrows the first exception a thread met.
inline PointArrays ReadPointArrays(const IPointDataProvider& provider,
                                   const PointArraysRequest& request = {})
{
    std::vector<ComponentKey> wanted = request.keys;
    if (request.pointIndices)
        wanted.push_back({EPointDataComponent::PointIndex, 0});
    const WantKeys consumer(std::move(wanted)); // outlives the pieces and their readers
    const auto pieces =
        SplitIntoPieces(provider.GetIterable(consumer), request.threads > 0 ? request.threads : 1);
    std::vector<std::size_t> offsets(pieces.size() + 1, 0); // pieces are in order of points
    for (std::size_t i = 0; i < pieces.size(); ++i)
        offsets[i + 1] = offsets[i] + static_cast<std::size_t>(PointCount(*pieces[i]));
    std::optional<GPointDouble> origin = request.origin;
    if (!origin && offsets.back() > 0)
        origin = pieces[0]->CreateCursor()->GetPosition();
    PointArrays arrays(offsets.back(), origin.value_or(GPointDouble{0.0, 0.0, 0.0}), request.keys,
                       request.pointIndices);

    std::vector<std::exception_ptr> failures(pieces.size());
    const auto fill = [&](std::size_t i)
    {
        try
        {
            if (arrays.Fill(*pieces[i], consumer, offsets[i]) != offsets[i + 1] - offsets[i])
                throw std::out_of_range("PointArrays: a piece held fewer points than counted");
        }
        catch (...)
        {
            failures[i] = std::current_exception();
        }
    };
    std::vector<std::thread> workers;
    for (std::size_t i = 1; i < pieces.size(); ++i)
        workers.emplace_back(fill, i);
    fill(0);
    for (std::thread& worker : workers)
        worker.join();
    for (const std::exception_ptr& failure : failures)
        if (failure)
            std::rethrow_exception(failure);
    return arrays;
}

} // namespace orv::DataProxy
