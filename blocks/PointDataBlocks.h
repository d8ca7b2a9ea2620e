#pragma once

#include "blocks/PointDataBlock.h"
#include "blocks/detail/CursorFallback.h"
#include "contract/Interfaces.h"

#include <cstddef>
#include <memory>

// Block reads: the points of an iterable a block at a time, as columns.
//
// A cursor answers three virtual calls per point (IsValid, a getter, MoveNext); a block
// carries up to kPointDataBlockCapacity consecutive points as plain arrays, so an algorithm
// runs a tight loop over them that the compiler can vectorise. Blocks hold exactly what a
// cursor of the same iterable would deliver, bit for bit: the same points in the same order,
// world positions computed in the cursor's order of operations, the same point indices, the
// same extra-data values and the same absences.
//
// The entry point is ForEachBlock (below). Iterables that can fill blocks themselves offer the
// optional interface IPointDataBlockSource beside the contract's IPointDataIterable (found with
// dynamic_cast); for any other iterable ForEachBlock fills the very same blocks from a cursor.
// Split pieces are iterables too: read them on several threads, ForEachBlock on each.

namespace orv::DataProxy
{

// For writers of blocks (a file reader, say): sets point i of the block from an accessor
// standing on that point: its position when the block has positions, and for every column the
// accessor's value or its absence. Point indices and the block's size are the caller's. A
// template, so that the getters of a final accessor class are called directly.
template <class Accessor>
void SetBlockPoint(PointDataBlock& block, std::size_t i, const Accessor& point)
{
    if (block.HasPositions())
    {
        const GPointDouble p = point.GetPosition();
        block.MutableX()[i] = p.x;
        block.MutableY()[i] = p.y;
        block.MutableZ()[i] = p.z;
    }
    for (PointDataBlock::Storage& column : block.MutableColumns())
    {
        Detail::ReadKey(point, column, i);
    }
}

// Calls f(const PointDataBlock&) for the points of `iterable` in order, a block at a time; each
// block but the last is full, and an empty iterable calls f never. Every block carries the
// points' indices, and of what the iterable's cursor serves (what the iterable's consumer
// requested and its provider maps), the position and the keys `consumer` requests: pass the
// iterable's own consumer for everything its cursor delivers, or a narrower one.
//
// With an iterable that offers IPointDataBlockSource (this library's: providers, query and
// builder results, and their split pieces) the blocks are filled from the host's tables in
// runs; with any other, from a cursor, which is asked once what it serves when it offers
// IPointDataServedKeys (this library's cursors do), else tried once per key `consumer`
// requests. Either way the blocks hold what the cursor delivers.
//
// Throws what the iterable, its cursor or reader, the consumer and f throw, and std::bad_alloc.
template <class F>
void ForEachBlock(const IPointDataIterable& iterable, const IPointDataConsumer& consumer, F&& f)
{
    if (const auto* source = dynamic_cast<const IPointDataBlockSource*>(&iterable))
    {
        const std::unique_ptr<IPointDataBlockReader> reader = source->CreateBlockReader(consumer);
        PointDataBlock block(reader->GetLayout());
        while (reader->Fill(block) != 0)
        {
            f(static_cast<const PointDataBlock&>(block));
        }
        return;
    }
    Detail::ForEachCursorBlock(iterable, consumer, f);
}

} // namespace orv::DataProxy
