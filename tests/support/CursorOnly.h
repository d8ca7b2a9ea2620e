#pragma once

#include "contract/Interfaces.h"

#include <memory>
#include <utility>

namespace orv::TestSupport
{

// An iterable of another plugin: it forwards the contract and hides every optional interface
// of the iterable it wraps (the block source above all), so readers fall back to its cursor.
// Its own header, so that a benchmark can use it without the test fixtures.
class CursorOnly final : public orv::DataProxy::IPointDataIterable
{
public:
    explicit CursorOnly(std::shared_ptr<orv::DataProxy::IPointDataIterable> inner)
        : inner_(std::move(inner))
    {
    }
    std::shared_ptr<orv::DataProxy::IPointDataCursor> CreateCursor() const override
    {
        return inner_->CreateCursor();
    }
    bool IsEmpty() const override { return inner_->IsEmpty(); }
    bool IsDivisible(const orv::DataProxy::IPointDataSplitHint& hint) const override
    {
        return inner_->IsDivisible(hint);
    }
    std::unique_ptr<orv::DataProxy::IPointDataIterable> Split() override
    {
        return std::make_unique<CursorOnly>(inner_->Split());
    }

private:
    std::shared_ptr<orv::DataProxy::IPointDataIterable> inner_;
};

} // namespace orv::TestSupport
