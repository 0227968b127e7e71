#pragma once
// Makes the n-th following nothrow array allocation (counting from 1) of the
// test process fail, as an exhausted heap would.

namespace morvane::sim {
void FailNthNothrowArrayAllocation(int n);
}
