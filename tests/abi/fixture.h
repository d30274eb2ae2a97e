// A small library for the test abi.compare: each VARIANT_* macro makes one
// kind of change to it (see run.sh).
#ifndef VMSG_ABI_FIXTURE_H
#define VMSG_ABI_FIXTURE_H

#define FIXTURE_API __attribute__((visibility("default")))

class FIXTURE_API Point {
public:
    Point(int x, int y);
    int area() const;
#ifndef VARIANT_REMOVED
    int perimeter() const;
#endif
#ifdef VARIANT_ADDED
    int diagonal() const;
#endif
#ifdef VARIANT_SIGNATURE
    int scaled(long factor) const;
#else
    int scaled(int factor) const;
#endif

private:
    int mX;
#ifdef VARIANT_LAYOUT
    int mZ;
#endif
    int mY;
};

// A public type that no exported function reaches.
struct FIXTURE_API Options {
    int level;
#ifdef VARIANT_UNREACHABLE_LAYOUT
    int verbosity;
#endif
};

#endif
