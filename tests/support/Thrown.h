#pragma once

// The message of an expected exception, for tests that check what it says: a call that throws
// nothing gives a text no expected message contains, so the caller's check fails and names it;
// an exception of another type passes through and fails the test.

#include <string>

namespace orv::TestSupport
{

template <class E, class F>
std::string Thrown(F&& call)
{
    try
    {
        call();
    }
    catch (const E& e)
    {
        return e.what();
    }
    return "(no exception)";
}

} // namespace orv::TestSupport
