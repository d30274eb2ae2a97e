#include "fixture.h"

namespace {

// A type of the library's own, in no public header: its changes are not
// the ABI's.
struct Scratch {
    int a;
#ifdef VARIANT_PRIVATE
    long b;
#endif
};

int combine(const Scratch& s, int v)
{
    return s.a + v;
}

} // namespace

Point::Point(int x, int y) : mX(x),
#ifdef VARIANT_LAYOUT
                             mZ(0),
#endif
                             mY(y)
{
}

int Point::area() const
{
    return combine(Scratch{mX}, 0) * mY;
}

#ifndef VARIANT_REMOVED
int Point::perimeter() const
{
    return 2 * (mX + mY);
}
#endif

#ifdef VARIANT_ADDED
int Point::diagonal() const
{
    return mX + mY;
}
#endif

#ifdef VARIANT_SIGNATURE
int Point::scaled(long factor) const
{
    return static_cast<int>(mX * factor);
}
#else
int Point::scaled(int factor) const
{
    return mX * factor;
}
#endif

// Reaches Options only through a pointer in a C signature, so its layout
// matters to callers while no function's type shows it.
extern "C" FIXTURE_API int fixtureLevel(const void* options)
{
    return static_cast<const Options*>(options)->level;
}
