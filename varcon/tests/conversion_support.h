// The two conversion exports called as a component calls them, inside a
// host error trap, for tests.
#pragma once

#include "hosttest.h"
#include "varcon.h"

#include <string>

// A record with every option off.
inline ConversionFlags Flags() {
    ConversionFlags f;
    return *zrtInitConversionFlags(&f);
}

// Converts inside a host error trap; answers the raised message, or "" on
// success.
inline std::string ToVariant(const kaArray *array, VARIANT *target, const ConversionFlags *flags) {
    auto raised = RaisedBy([=] { zrtkaArray2Variant(array, target, flags); });
    return raised ? *raised : std::string();
}

inline std::string FromVariant(const VARIANT *source, kaArray **result, const ConversionFlags *flags) {
    auto raised = RaisedBy([=] { zrtVariant2kaArray(source, result, flags); });
    return raised ? *raised : std::string();
}
