// Routines of the conversion library that are not exported, linked from
// the library's own objects.
#include "hosttest.h"
#include "varcon_internal.h"

#include <climits>

namespace {

class StatusTest : public HostLeakCheck {};

TEST_F(StatusTest, EveryStatusIsRaisedWithItsMessage) {
    struct Case {
        int status;
        const char *message;
    };
    const Case cases[] = {
        {-1, "Data conversion error: Invalid input"},
        {-2, "Data conversion error: Unable to allocate memory"},
        {-3, "Data conversion error: Invalid VARIANT data"},
        {-4, "Data conversion error: Unable to access VARIANT data"},
        {-5, "Data conversion error: Unsupported VARIANT type"},
        {-6, "Data conversion error: Unsupported CORVEX type"},
        {-7, "Data conversion error: Unable to copy array data from object"},
        {-8, "Data conversion error: Unable to copy array data into object"},
        {-9, "Data conversion error: Unknown error"},
        {-12, "Data conversion error: Unknown error"},
        {-100, "Data conversion error: Unknown error"},
        {INT_MIN, "Data conversion error: Unknown error"},
    };
    for (const Case &c : cases) {
        const int status = c.status;
        EXPECT_EQ(RaisedBy([status] { RaiseConversionError(status); }), c.message) << status;
    }
    for (int status : {0, 1, 8, INT_MAX})
        EXPECT_EQ(RaisedBy([status] { RaiseConversionError(status); }), std::nullopt) << status;
}

}  // namespace
